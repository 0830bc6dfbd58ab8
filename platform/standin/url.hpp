#pragma once
// The stand-in URL parser.

#include "platform/url.hpp"

namespace tidingsbell::standin {

// Parses with libcurl's URL parser; absolute URLs only, as the platform's parser needs a scheme
// to give an absolute address.
class CurlUrlParser final : public platform::UrlParser {
 public:
  std::optional<platform::Url> urlWithString(std::string_view text) override;
};

}  // namespace tidingsbell::standin
