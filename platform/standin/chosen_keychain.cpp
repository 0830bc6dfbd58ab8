#include "platform/standin/chosen_keychain.hpp"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>

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

// The keyring first; a search that finds no item there looks in the file, where an item saved
// while no keyring answered stays until the settings window moves it. Every change goes to the
// keyring alone.
class KeyringOverFile final : public EditableKeychain {
 public:
  explicit KeyringOverFile(SecretServiceKeychain& keyring) : keyring_(keyring) {}

  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override {
    const platform::OSStatus status = keyring_.copyMatching(query, result);
    if (status != platform::errSecItemNotFound) return status;
    platform::KeychainResult inFile;
    if (file_.copyMatching(query, inFile) != platform::errSecSuccess) return status;
    result = std::move(inFile);
    return platform::errSecSuccess;
  }
  platform::OSStatus add(const platform::KeychainQuery& attributes) override {
    return keyring_.add(attributes);
  }
  platform::OSStatus update(const platform::KeychainQuery& query,
                            const platform::KeychainQuery& attributesToUpdate) override {
    return keyring_.update(query, attributesToUpdate);
  }
  // The keychain tool's: an item it deletes is gone from view, the file's copy too.
  platform::OSStatus deleteItem(const platform::KeychainQuery& query) override {
    const platform::OSStatus status = keyring_.deleteItem(query);
    if (status != platform::errSecSuccess && status != platform::errSecItemNotFound) return status;
    if (!std::filesystem::exists(file_.path())) return status;
    const platform::OSStatus inFile = file_.deleteItem(query);
    return inFile == platform::errSecSuccess ? inFile : status;
  }

  SecretServiceKeychain& keyring() { return keyring_; }
  FileKeychain& file() { return file_; }

 private:
  SecretServiceKeychain& keyring_;
  FileKeychain file_;
};

ChosenKeychain* choose() {
  const char* forced = std::getenv("TIDINGSBELL_STANDIN_KEYCHAIN");
  const std::string_view asked = forced != nullptr ? forced : "";
  if (asked != "file") {
    auto secretService = std::make_unique<SecretServiceKeychain>(bound());
    // Only a Secret Service that is not there at all means the file: one that does not answer
    // in time is the user's keyring, hung, and the token must not go elsewhere meanwhile.
    if (asked == "secret-service" || !secretService->absent()) {
      return new ChosenKeychain{*new KeyringOverFile(*secretService.release()),
                                ChosenKeychain::Kind::SecretService,
                                false,
                                {}};
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

std::optional<std::filesystem::path> moveFileItemsIntoKeyring(
    const std::string& service, std::initializer_list<std::string_view> accounts) {
  auto* keychain = dynamic_cast<KeyringOverFile*>(&chosenKeychain().keychain);
  // A keyring that did not answer as the program started would only cost the window its bound.
  if (keychain == nullptr || !keychain->keyring().answered() ||
      !std::filesystem::exists(keychain->file().path())) {
    return std::nullopt;
  }
  bool moved = false;
  for (const std::string_view account : accounts) {
    platform::KeychainQuery item;
    item.secClass = platform::SecClass::GenericPassword;
    item.service = service;
    item.account = std::string(account);
    platform::KeychainQuery search = item;
    search.returnData = true;
    search.matchLimit = platform::SecMatchLimit::One;
    platform::KeychainResult found;
    if (keychain->file().copyMatching(search, found) != platform::errSecSuccess) continue;
    auto* value = std::get_if<platform::Bytes>(&found);
    if (value == nullptr) continue;
    item.valueData = *value;
    // Only an add that stored the file's value lets it leave the file. An item already in the
    // keyring wins for every reader, but the file keeps its own: it may be the newer one (saved
    // by a window that found no keyring as it started), or the keyring's may be locked; and
    // anything else (a keyring that stopped answering) leaves it for the next move.
    if (keychain->keyring().add(item) != platform::errSecSuccess) continue;
    item.valueData.reset();
    moved = keychain->file().deleteItemHolding(item, *value) == platform::errSecSuccess || moved;
  }
  if (!moved) return std::nullopt;
  return keychain->file().path();
}

}  // namespace tidingsbell::standin
