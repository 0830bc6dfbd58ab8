#pragma once

#include <optional>
#include <string>

#include "extension/ExtensionPlatform.hpp"
#include "platform/safari.hpp"

namespace tidingsbell {

// Writes one system-log line naming the message, the page's address and the user information,
// once the page has reported its properties. Returns before the line is written.
void logPageMessage(const ExtensionPlatform& platform, std::string name, platform::SafariPage& page,
                    std::optional<platform::UserInfo> userInfo);

// The line itself, for the given page properties.
std::string pageMessageLine(const std::string& name,
                            const std::optional<platform::SafariPageProperties>& properties,
                            const std::optional<platform::UserInfo>& userInfo);

}  // namespace tidingsbell
