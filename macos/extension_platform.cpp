#include "macos/platforms.hpp"
#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::macos {

const ExtensionPlatform& extensionPlatform() {
  // Stateless wrappers of the platform's own shared objects: nothing here holds state.
  static apple::KeychainReader keychain;
  static apple::UserDefaults defaults;
  static apple::Clock clock;
  static apple::UrlParser urls;
  static apple::UrlSessionFactory sessions;
  static apple::JsonReader json;
  static apple::StandardOutput output;
  static apple::SystemLog log;
  static apple::Workspace workspace;
  static apple::MainThread mainThread;
  static const ExtensionPlatform platform{keychain, defaults, clock, urls,      sessions,
                                          json,     output,   log,   workspace, mainThread};
  return platform;
}

}  // namespace tidingsbell::macos
