#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

const AppPlatform& appPlatform() {
  // Stateless wrappers of the platform's own shared objects: nothing here holds state.
  static Keychain keychain;
  static MainThread mainThread;
  static UserInitiatedQueue queue;
  static SafariApplication safari;
  static StandardOutput output;
  static const AppPlatform platform{keychain, mainThread, queue, safari, output};
  return platform;
}

}  // namespace tidingsbell::apple
