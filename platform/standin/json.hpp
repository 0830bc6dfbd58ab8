#pragma once
// JSON reading on simdjson's fully validating DOM parser, with the platform's rules on top: the
// top level must be an array or an object, and an object counts its distinct keys, as a
// dictionary holds them.

#include <memory>
#include <mutex>

#include "platform/json.hpp"

namespace simdjson::dom {
class parser;
}

namespace tidingsbell::standin {

inline constexpr const char* kJsonParseErrorDescription =
    "The data couldn\u2019t be read because it isn\u2019t in the correct format.";

class SimdjsonReader final : public platform::JsonReader {
 public:
  SimdjsonReader();
  SimdjsonReader(const SimdjsonReader&) = delete;
  SimdjsonReader& operator=(const SimdjsonReader&) = delete;
  ~SimdjsonReader() override;

  platform::JsonSummary summarize(const platform::Bytes& data) override;

 private:
  // A parser whose buffers outlive the poll: each poll's completion runs on a thread of its own,
  // so a parser per thread would start cold every time. Overlapping polls take turns with it or
  // make one of their own.
  std::mutex mutex_;
  std::unique_ptr<simdjson::dom::parser> spare_;
};

}  // namespace tidingsbell::standin
