#include "platform/standin/chosen_keychain.hpp"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/standin/keychain.hpp"
#include "platform/standin/secret_service_keychain.hpp"

namespace tidingsbell::standin {
namespace {

// TIDINGSBELL_STANDIN_KEYRING_TIMEOUT (seconds, tests): how long a keychain operation waits for
// a Secret Service that has stopped answering.
std::chrono::milliseconds bound() {
  const char* text = std::getenv("TIDINGSBELL_STANDIN_KEYRING_TIMEOUT");
  char* end = nullptr;
  const double seconds = text != nullptr ? std::strtod(text, &end) : 0.0;
  if (text == nullptr || end == text || *end != '\0' || !(seconds > 0.0 && seconds <= 60.0)) {
    return SecretServiceKeychain::kDefaultBound;
  }
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

ChosenKeychain* choose() {
  const char* forced = std::getenv("TIDINGSBELL_STANDIN_KEYCHAIN");
  const std::string_view asked = forced != nullptr ? forced : "";
  if (asked != "file") {
    auto secretService = std::make_unique<SecretServiceKeychain>(bound());
    // Only a Secret Service that is not there at all means the file: one that does not answer
    // in time is the user's keyring, hung, and the token must not go elsewhere meanwhile.
    if (asked == "secret-service" || !secretService->absent()) {
      return new ChosenKeychain{
          *secretService.release(), ChosenKeychain::Kind::SecretService, false, {}};
    }
  }
  auto* file = new FileKeychain();
  return new ChosenKeychain{*file, ChosenKeychain::Kind::File, asked != "file", file->path()};
}

}  // namespace

std::string ChosenKeychain::description() const {
  if (kind == Kind::SecretService) {
    return "the desktop's keyring, through the Secret Service on the session bus";
  }
  return "the file " + file.string() + " (not encrypted)" +
         (fellBack ? ": there is no Secret Service on the session bus" : "");
}

const ChosenKeychain& chosenKeychain() {
  // Never destroyed: threads still reading the keychain as the process ends must not meet a
  // keychain that is gone.
  static const ChosenKeychain* const chosen = choose();
  return *chosen;
}

}  // namespace tidingsbell::standin
