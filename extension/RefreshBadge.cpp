#include "extension/RefreshBadge.hpp"

#include <optional>
#include <utility>

#include "extension/PollNotifications.hpp"
#include "shared/SettingsStore.hpp"

namespace tidingsbell {

bool containsHeaderControlCharacter(std::string_view token) {
  for (const char c : token) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

void refreshBadge(const ExtensionPlatform& platform, ValidationHandler handler) {
  const platform::Date now = platform.clock.now();
  const platform::Date threshold =
      platform.clock.oneMinuteBefore(now).value_or(platform.clock.now());

  std::optional<platform::Date> lastCheck;
  if (auto stored = platform.defaults.objectForKey(kLastCheckKey)) {
    if (const auto* date = std::get_if<platform::Date>(&*stored)) lastCheck = *date;
  }
  // A date ahead of now means the clock was set back; honouring it would freeze the badge until
  // the clock caught up, so it counts as no poll at all.
  if (lastCheck && *lastCheck > now) lastCheck.reset();
  if (lastCheck && !(*lastCheck < threshold)) return;

  platform.defaults.setObject(platform.clock.now(), kLastCheckKey);

  const SettingsReader settings(platform.keychain);
  std::optional<std::string> token = settings.readToken();
  if (!token) return;
  if (settings.readMuteFlag().value_or(false)) {
    handler(true, "");
    return;
  }
  // Such a byte would corrupt or split the request; the token itself is never printed.
  if (containsHeaderControlCharacter(*token)) {
    handler(true, "");
    platform.standardOutput.write(
        "The personal access token was not sent: it contains a control character\n");
    return;
  }
  pollNotifications(platform, std::move(*token), std::move(handler));
}

}  // namespace tidingsbell
