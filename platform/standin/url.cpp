#include "platform/standin/url.hpp"

#include <curl/curl.h>

#include <string>

namespace tidingsbell::standin {

std::optional<platform::Url> CurlUrlParser::urlWithString(std::string_view text) {
  CURLU* url = curl_url();
  if (url == nullptr) return std::nullopt;
  std::optional<platform::Url> parsed;
  const std::string owned(text);
  if (curl_url_set(url, CURLUPART_URL, owned.c_str(), 0) == CURLUE_OK) {
    char* full = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK) {
      parsed = platform::Url{full};
      curl_free(full);
    }
  }
  curl_url_cleanup(url);
  return parsed;
}

}  // namespace tidingsbell::standin
