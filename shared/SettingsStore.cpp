#include "shared/SettingsStore.hpp"

#include <utility>

namespace tidingsbell {

using platform::Bytes;
using platform::KeychainQuery;

std::optional<Bytes> SettingsStore::read(std::string_view account) const {
  KeychainQuery query;
  query.secClass = platform::SecClass::GenericPassword;
  query.service = std::string(kKeychainService);
  query.account = std::string(account);
  query.returnData = true;
  query.matchLimit = platform::SecMatchLimit::One;

  platform::KeychainResult result;
  if (keychain_.copyMatching(query, result) != platform::errSecSuccess) return std::nullopt;
  if (auto* data = std::get_if<Bytes>(&result)) return std::move(*data);
  return std::nullopt;
}

bool SettingsStore::replace(std::string_view account, Bytes value) const {
  KeychainQuery item;
  item.secClass = platform::SecClass::GenericPassword;
  item.service = std::string(kKeychainService);
  item.account = std::string(account);
  item.valueData = std::move(value);

  // Kept so that an add that fails (a full disk, say) does not cost the user the value they had.
  std::optional<Bytes> previous = read(account);

  // The value data in the delete does not narrow the match, so this removes the old item
  // whatever it held; a missing item on the first save is expected.
  (void)keychain_.deleteItem(item);
  if (keychain_.add(item) == platform::errSecSuccess) return true;
  if (previous) {
    item.valueData = std::move(*previous);
    (void)keychain_.add(item);
  }
  return false;
}

std::optional<std::string> SettingsStore::readToken() const {
  auto bytes = read(kTokenAccount);
  if (!bytes) return std::nullopt;
  std::string token(bytes->begin(), bytes->end());
  if (!isValidUtf8(token)) return std::nullopt;
  return token;
}

std::optional<bool> SettingsStore::readMuteFlag() const {
  auto bytes = read(kMuteAccount);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes->front() != 0;
}

bool SettingsStore::saveToken(std::string_view token) const {
  // A text with no UTF-8 form would be stored as bytes the readers refuse, losing the token the
  // user had: refuse it before anything is deleted.
  if (!isValidUtf8(token)) return false;
  return replace(kTokenAccount, Bytes(token.begin(), token.end()));
}

bool SettingsStore::saveMuteFlag(bool muted) const {
  return replace(kMuteAccount, Bytes{static_cast<std::uint8_t>(muted ? 0x01 : 0x00)});
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
