#pragma once
// URL parsing from text: absent when the platform's parser refuses the text.

#include <optional>
#include <string>
#include <string_view>

namespace tidingsbell::platform {

struct Url {
  std::string absoluteString;
  bool operator==(const Url&) const = default;
};

class UrlParser {
 public:
  virtual ~UrlParser() = default;
  virtual std::optional<Url> urlWithString(std::string_view text) = 0;
};

}  // namespace tidingsbell::platform
