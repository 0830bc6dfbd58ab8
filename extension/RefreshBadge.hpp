#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "extension/ExtensionPlatform.hpp"

namespace tidingsbell {

inline constexpr std::string_view kLastCheckKey = "last-check";

// Starts one poll with the token; the handler is called later, at most once.
using Poll = std::function<void(std::string token, ValidationHandler handler)>;

// One toolbar validation: at most one poll a minute, the badge cleared when muted.
void refreshBadge(const ExtensionPlatform& platform, ValidationHandler handler, const Poll& poll);

// True when the token holds a byte that may not appear in an HTTP header value.
bool containsHeaderControlCharacter(std::string_view token);

}  // namespace tidingsbell
