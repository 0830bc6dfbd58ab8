#pragma once
// The two settings, the personal access token and the mute flag, as generic-password items in the
// user's keychain. No cache: every read goes to the keychain, so the extension sees what the
// settings window saved last. The reader is all the extension needs: it searches the keychain
// and nothing else, so the extension's executable holds no code that changes the settings.

#include <optional>
#include <string>
#include <string_view>

#include "platform/keychain.hpp"
#include "tidingsbell_identifiers.hpp"

namespace tidingsbell {

inline constexpr std::string_view kKeychainService = kAppBundleIdentifier;
inline constexpr std::string_view kTokenAccount = "personal_access_token";
inline constexpr std::string_view kMuteAccount = "mute_switch";

class SettingsReader {
 public:
  explicit SettingsReader(platform::KeychainReader& keychain) : reader_(keychain) {}

  [[nodiscard]] std::optional<std::string> readToken() const;
  [[nodiscard]] std::optional<bool> readMuteFlag() const;

 protected:
  [[nodiscard]] std::optional<platform::Bytes> read(std::string_view account) const;

 private:
  platform::KeychainReader& reader_;
};

// The saves live in SettingsWriter.cpp: a program that never saves pulls none of them in.
class SettingsStore : public SettingsReader {
 public:
  explicit SettingsStore(platform::Keychain& keychain)
      : SettingsReader(keychain), keychain_(keychain) {}

  bool saveToken(std::string_view token) const;
  bool saveMuteFlag(bool muted) const;

 private:
  bool save(std::string_view account, const platform::Bytes& value) const;

  platform::Keychain& keychain_;
};

// True when the bytes are well-formed UTF-8 as a strict decoder sees it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

}  // namespace tidingsbell
