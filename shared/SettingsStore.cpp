#include "shared/SettingsStore.hpp"

#include <utility>

namespace tidingsbell {

using platform::Bytes;
using platform::KeychainQuery;

std::optional<Bytes> SettingsReader::read(std::string_view account) const {
  KeychainQuery query;
  query.secClass = platform::SecClass::GenericPassword;
  query.service = std::string(kKeychainService);
  query.account = std::string(account);
  query.returnData = true;
  query.matchLimit = platform::SecMatchLimit::One;

  platform::KeychainResult result;
  if (reader_.copyMatching(query, result) != platform::errSecSuccess) return std::nullopt;
  if (auto* data = std::get_if<Bytes>(&result)) return std::move(*data);
  return std::nullopt;
}

std::optional<std::string> SettingsReader::readToken() const {
  auto bytes = read(kTokenAccount);
  if (!bytes) return std::nullopt;
  std::string token(bytes->begin(), bytes->end());
  if (!isValidUtf8(token)) return std::nullopt;
  return token;
}

std::optional<bool> SettingsReader::readMuteFlag() const {
  auto bytes = read(kMuteAccount);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes->front() != 0;
}

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (s[i + 1] < low || s[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace tidingsbell
