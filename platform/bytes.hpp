#pragma once
// A run of bytes as the platform's data objects hold them: keychain values, answer bodies.

#include <cstdint>
#include <vector>

namespace tidingsbell::platform {

using Bytes = std::vector<std::uint8_t>;

}  // namespace tidingsbell::platform
