#pragma once
// Everything the extension's bodies reach of the operating system, handed in by reference: the
// macOS entry points pass the real platform, tests and the stand-in Safari pass their own.

#include <string>

#include "platform/callback.hpp"
#include "platform/clock.hpp"
#include "platform/json.hpp"
#include "platform/keychain.hpp"
#include "platform/output.hpp"
#include "platform/threads.hpp"
#include "platform/url.hpp"
#include "platform/url_session.hpp"
#include "platform/user_defaults.hpp"
#include "platform/workspace.hpp"

namespace tidingsbell {

struct ExtensionPlatform {
  platform::KeychainReader& keychain;  // the extension only reads the settings
  platform::UserDefaults& defaults;
  platform::Clock& clock;
  platform::UrlParser& urls;
  platform::UrlSessionFactory& sessions;
  platform::JsonReader& json;
  platform::StandardOutput& standardOutput;
  platform::SystemLog& systemLog;
  platform::Workspace& workspace;
  platform::MainThread& mainThread;
};

// Safari's validation handler: (enabled, badge text). "" shows no badge.
using ValidationHandler = Callback<void(bool enabled, std::string badgeText)>;

}  // namespace tidingsbell
