#pragma once
// JSON reading with the platform's rules (top level an array or an object), answering only what
// a count needs, so that no tree is built.

#include <cstddef>
#include <string>
#include <variant>

#include "platform/bytes.hpp"

namespace tidingsbell::platform {

struct JsonArraySummary {
  std::size_t elementCount = 0;
  bool everyElementIsObject = true;
};
struct JsonObjectSummary {
  std::size_t distinctKeyCount = 0;
};
struct JsonParseError {
  std::string localizedDescription;
};
using JsonSummary = std::variant<JsonArraySummary, JsonObjectSummary, JsonParseError>;

class JsonReader {
 public:
  virtual ~JsonReader() = default;
  virtual JsonSummary summarize(const Bytes& data) = 0;
};

}  // namespace tidingsbell::platform
