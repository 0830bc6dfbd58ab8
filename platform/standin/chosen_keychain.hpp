#pragma once
// Which keychain the stand-in programs use: the desktop's Secret Service when one answers on the
// session bus, else the file keychain; TIDINGSBELL_STANDIN_KEYCHAIN=secret-service or =file
// forces one. The choice is made once per process and kept: a Secret Service that stops
// answering later gives errors, never a switch to the file, so a token is never written to disk
// behind the user's back.

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/standin/keychain.hpp"

namespace tidingsbell::standin {

struct ChosenKeychain {
  enum class Kind { SecretService, File };

  EditableKeychain& keychain;
  Kind kind;
  bool fellBack;               // the file because no Secret Service is there, not by request
  std::filesystem::path file;  // the file keychain's path; empty for the Secret Service

  // One line for people: which keychain, and where the items are.
  [[nodiscard]] std::string description() const;
};

// Chosen on the first call, from any thread; the same keychain for the rest of the process.
// The keyring, when chosen, is read with the file keychain behind it: an item saved while no
// keyring answered, and not yet moved, is read from the file; every change goes to the keyring.
const ChosenKeychain& chosenKeychain();

// When the keyring is the chosen keychain, moves these items of the service from the file
// keychain into it: each is added to the keyring (an item already there wins), then removed from
// the file. Safe against two programs at once and a kill in the middle: an item leaves the file
// only once the keyring holds one, and the next move finishes what a killed one began. The file,
// when an item left it. Only the program that saves calls it: readers never write anywhere.
std::optional<std::filesystem::path> moveFileItemsIntoKeyring(
    const std::string& service, std::initializer_list<std::string_view> accounts);

}  // namespace tidingsbell::standin
