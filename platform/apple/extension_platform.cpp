#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

const ExtensionPlatform& extensionPlatform() {
  // Stateless wrappers of the platform's own shared objects: nothing here holds state.
  static Keychain keychain;
  static UserDefaults defaults;
  static Clock clock;
  static UrlParser urls;
  static UrlSessionFactory sessions;
  static JsonReader json;
  static StandardOutput output;
  static SystemLog log;
  static Workspace workspace;
  static MainThread mainThread;
  static const ExtensionPlatform platform{keychain, defaults, clock, urls,      sessions,
                                          json,     output,   log,   workspace, mainThread};
  return platform;
}

}  // namespace tidingsbell::apple
