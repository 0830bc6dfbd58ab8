#include "shared/SettingsStore.hpp"

namespace tidingsbell {

using platform::Bytes;
using platform::KeychainQuery;

// Add, and update the value in place when the item is there: at every moment the keychain holds
// the old value or the new one, whenever the process dies and whatever the keychain refuses, so
// the extension never finds no token. Nothing is read first and nothing deleted.
bool SettingsStore::save(std::string_view account, const Bytes& value) const {
  KeychainQuery item;
  item.secClass = platform::SecClass::GenericPassword;
  item.service = std::string(kKeychainService);
  item.account = std::string(account);
  KeychainQuery changes;
  changes.valueData = value;

  KeychainQuery attributes = item;
  attributes.valueData = value;
  const platform::OSStatus added = keychain_.add(attributes);
  if (added != platform::errSecDuplicateItem) return added == platform::errSecSuccess;
  const platform::OSStatus updated = keychain_.update(item, changes);
  // Deleted since the add found it: one more add, the only retry.
  if (updated == platform::errSecItemNotFound) {
    return keychain_.add(attributes) == platform::errSecSuccess;
  }
  return updated == platform::errSecSuccess;
}

bool SettingsStore::saveToken(std::string_view token) const {
  // A text with no UTF-8 form would be stored as bytes the readers refuse, losing the token the
  // user had: refuse it before anything is written.
  if (!isValidUtf8(token)) return false;
  return save(kTokenAccount, Bytes(token.begin(), token.end()));
}

bool SettingsStore::saveMuteFlag(bool muted) const {
  return save(kMuteAccount, Bytes{static_cast<std::uint8_t>(muted ? 0x01 : 0x00)});
}

}  // namespace tidingsbell
