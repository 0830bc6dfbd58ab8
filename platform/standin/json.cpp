#include "platform/standin/json.hpp"

#include <simdjson.h>

#include <string_view>
#include <unordered_set>
#include <vector>

namespace tidingsbell::standin {
namespace {

std::size_t distinctKeys(simdjson::dom::object object) {
  const std::size_t members = object.size();
  if (members <= 1) return members;
  // Most objects are small: a quadratic scan beats hashing there.
  if (members <= 16) {
    std::vector<std::string_view> seen;
    seen.reserve(members);
    for (auto field : object) {
      bool duplicate = false;
      for (const auto& key : seen) {
        if (key == field.key) {
          duplicate = true;
          break;
        }
      }
      if (!duplicate) seen.push_back(field.key);
    }
    return seen.size();
  }
  std::unordered_set<std::string_view> seen;
  seen.reserve(members);
  for (auto field : object) seen.insert(field.key);
  return seen.size();
}

platform::JsonSummary summarizeWith(simdjson::dom::parser& parser, const platform::Bytes& data) {
  const bool padded = data.capacity() - data.size() >= simdjson::SIMDJSON_PADDING;
  simdjson::dom::element root;
  if (parser.parse(data.data(), data.size(), !padded).get(root) != simdjson::SUCCESS) {
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
    return platform::JsonObjectSummary{distinctKeys(object)};
  }
  // A scalar alone is a fragment, which reading without options refuses.
  return platform::JsonParseError{kJsonParseErrorDescription};
}

}  // namespace

SimdjsonReader::SimdjsonReader() = default;
SimdjsonReader::~SimdjsonReader() = default;

platform::JsonSummary SimdjsonReader::summarize(const platform::Bytes& data) {
  // Zero bytes are no document; simdjson would also copy from a null pointer for them.
  if (data.empty()) return platform::JsonParseError{kJsonParseErrorDescription};
  std::unique_ptr<simdjson::dom::parser> parser;
  {
    const std::lock_guard lock(mutex_);
    parser = std::move(spare_);
  }
  if (!parser) parser = std::make_unique<simdjson::dom::parser>();
  platform::JsonSummary summary = summarizeWith(*parser, data);
  const std::lock_guard lock(mutex_);
  if (!spare_) spare_ = std::move(parser);
  return summary;
}

}  // namespace tidingsbell::standin
