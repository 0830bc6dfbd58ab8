#pragma once
// Small text encodings the stand-ins write and read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidingsbell::standin {

// A JSON string literal, quotes included; control characters and non-UTF-8-safe bytes are
// escaped so the output is always valid JSON for valid UTF-8 input.
std::string jsonQuote(std::string_view text);

std::string toHex(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex);

// Shortest text that reads back as the same double.
std::string formatDouble(double value);

}  // namespace tidingsbell::standin
