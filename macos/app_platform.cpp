#include "macos/platforms.hpp"
#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::macos {

const AppPlatform& appPlatform() {
  // Stateless wrappers of the platform's own shared objects: nothing here holds state.
  static apple::Keychain keychain;
  static apple::MainThread mainThread;
  static apple::UserInitiatedQueue queue;
  static apple::SafariApplication safari;
  static apple::StandardOutput output;
  static const AppPlatform platform{keychain, mainThread, queue, safari, output};
  return platform;
}

}  // namespace tidingsbell::macos
