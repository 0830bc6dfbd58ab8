#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

std::optional<platform::Url> UrlParser::urlWithString(std::string_view text) {
  const Owned string = makeString(text);
  if (string.get() == nullptr) return std::nullopt;
  id url = send<id, id>("NSURL"_cls, "URLWithString:"_sel, string.get());
  if (url == nullptr) return std::nullopt;
  auto absolute = toString(send(url, "absoluteString"_sel));
  if (!absolute) return std::nullopt;
  return platform::Url{std::move(*absolute)};
}

}  // namespace tidingsbell::apple
