#include "platform/standin/json.hpp"

#include <simdjson.h>

#include <set>
#include <string_view>

namespace tidingsbell::standin {

platform::JsonSummary SimdjsonReader::summarize(const platform::Bytes& data) {
  // Zero bytes are no document; simdjson would also copy from a null pointer for them.
  if (data.empty()) return platform::JsonParseError{kJsonParseErrorDescription};
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(data.data(), data.size()).get(root) != simdjson::SUCCESS) {
    return platform::JsonParseError{kJsonParseErrorDescription};
  }
  simdjson::dom::array array;
  if (root.get_array().get(array) == simdjson::SUCCESS) {
    platform::JsonArraySummary summary;
    for (simdjson::dom::element element : array) {
      ++summary.elementCount;
      if (!element.is_object()) summary.everyElementIsObject = false;
    }
    return summary;
  }
  simdjson::dom::object object;
  if (root.get_object().get(object) == simdjson::SUCCESS) {
    std::set<std::string_view> keys;
    for (auto field : object) keys.insert(field.key);
    return platform::JsonObjectSummary{keys.size()};
  }
  // A scalar alone is a fragment, which reading without options refuses.
  return platform::JsonParseError{kJsonParseErrorDescription};
}

}  // namespace tidingsbell::standin
