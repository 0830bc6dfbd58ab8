#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "extension/ExtensionPlatform.hpp"

namespace tidingsbell {

inline constexpr std::string_view kNotificationsApiUrl = "https://api.github.com/notifications";
inline constexpr double kPollTimeoutSeconds = 60.0;
// A server that trickles bytes never falls silent for the time-out above; this ends the poll.
inline constexpr double kPollLifetimeSeconds = 120.0;

// Sends one authenticated GET for the user's notifications and returns at once; the handler gets
// the badge text from the answer.
void pollNotifications(const ExtensionPlatform& platform, std::string token,
                       ValidationHandler handler);

// The data task's completion: turns the answer into badge text for the handler.
void handleNotificationsResponse(platform::JsonReader& json, platform::StandardOutput& out,
                                 const ValidationHandler& handler,
                                 const std::optional<platform::Bytes>& body,
                                 const std::optional<platform::UrlResponse>& response,
                                 const std::optional<platform::UrlError>& error);

// "" for none, else the count in plain decimal digits.
std::string badgeText(std::size_t count);

}  // namespace tidingsbell
