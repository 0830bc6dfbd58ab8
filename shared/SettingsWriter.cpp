#include "shared/SettingsStore.hpp"

#include <utility>

namespace tidingsbell {

using platform::Bytes;
using platform::KeychainQuery;

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

bool SettingsStore::saveToken(std::string_view token) const {
  // A text with no UTF-8 form would be stored as bytes the readers refuse, losing the token the
  // user had: refuse it before anything is deleted.
  if (!isValidUtf8(token)) return false;
  return replace(kTokenAccount, Bytes(token.begin(), token.end()));
}

bool SettingsStore::saveMuteFlag(bool muted) const {
  return replace(kMuteAccount, Bytes{static_cast<std::uint8_t>(muted ? 0x01 : 0x00)});
}

}  // namespace tidingsbell
