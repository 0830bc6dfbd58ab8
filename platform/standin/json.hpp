#pragma once
// JSON reading on simdjson's fully validating DOM parser, with the platform's rules on top: the
// top level must be an array or an object, and an object counts its distinct keys, as a
// dictionary holds them.

#include "platform/json.hpp"

namespace tidingsbell::standin {

inline constexpr const char* kJsonParseErrorDescription =
    "The data couldn\u2019t be read because it isn\u2019t in the correct format.";

class SimdjsonReader final : public platform::JsonReader {
 public:
  platform::JsonSummary summarize(const platform::Bytes& data) override;
};

}  // namespace tidingsbell::standin
