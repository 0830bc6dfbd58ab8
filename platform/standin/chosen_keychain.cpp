#include "platform/standin/chosen_keychain.hpp"

#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/standin/keychain.hpp"
#include "platform/standin/secret_service_keychain.hpp"

namespace tidingsbell::standin {
namespace {

ChosenKeychain* choose() {
  const char* forced = std::getenv("TIDINGSBELL_STANDIN_KEYCHAIN");
  const std::string_view asked = forced != nullptr ? forced : "";
  if (asked != "file") {
    auto secretService = std::make_unique<SecretServiceKeychain>();
    if (asked == "secret-service" || secretService->answered()) {
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
         (fellBack ? ": no Secret Service answers on the session bus" : "");
}

const ChosenKeychain& chosenKeychain() {
  // Never destroyed: threads still reading the keychain as the process ends must not meet a
  // keychain that is gone.
  static const ChosenKeychain* const chosen = choose();
  return *chosen;
}

}  // namespace tidingsbell::standin
