#pragma once
// Which keychain the stand-in programs use: the desktop's Secret Service when one answers on the
// session bus, else the file keychain; TIDINGSBELL_STANDIN_KEYCHAIN=secret-service or =file
// forces one. The choice is made once per process and kept: a Secret Service that stops
// answering later gives errors, never a switch to the file, so a token is never written to disk
// behind the user's back.

#include <filesystem>
#include <string>

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
const ChosenKeychain& chosenKeychain();

}  // namespace tidingsbell::standin
