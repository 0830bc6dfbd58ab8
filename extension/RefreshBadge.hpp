#pragma once

#include <string_view>

#include "extension/ExtensionPlatform.hpp"

namespace tidingsbell {

inline constexpr std::string_view kLastCheckKey = "last-check";

// One toolbar validation: at most one poll a minute (pollNotifications), the badge cleared when
// muted.
void refreshBadge(const ExtensionPlatform& platform, ValidationHandler handler);

// True when the token holds a byte that may not appear in an HTTP header value.
bool containsHeaderControlCharacter(std::string_view token);

}  // namespace tidingsbell
