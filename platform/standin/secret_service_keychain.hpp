#pragma once
// The desktop's keychain: generic-password items kept by the freedesktop Secret Service (GNOME
// Keyring, KWallet, KeePassXC), reached through libsecret. Each item carries the string attributes
// "service" and "account" and nothing else to match on, so any Secret Service client finds it by
// those two (`secret-tool lookup service S account A`); the value is kept byte for byte.
//
// It answers as the platform's keychain does: errSecItemNotFound, errSecDuplicateItem, value data
// never narrowing a match. It never asks the user anything: where the keyring would have to
// prompt (a locked collection, no default collection yet) the call fails with
// errSecInteractionNotAllowed. A Secret Service that is gone gives errSecNotAvailable, and the
// next call connects afresh; nothing is ever written anywhere else.
//
// Safe to call from any thread: calls are taken one at a time.

#include <memory>
#include <mutex>

#include "platform/keychain.hpp"

namespace tidingsbell::standin {

class SecretServiceKeychain final : public platform::Keychain {
 public:
  SecretServiceKeychain();  // connects to the Secret Service on the session bus
  SecretServiceKeychain(const SecretServiceKeychain&) = delete;
  SecretServiceKeychain& operator=(const SecretServiceKeychain&) = delete;
  ~SecretServiceKeychain() override;

  // Whether a Secret Service answered when this keychain was made.
  [[nodiscard]] bool answered() const { return answered_; }

  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
  platform::OSStatus deleteItem(const platform::KeychainQuery& query) override;
  platform::OSStatus add(const platform::KeychainQuery& attributes) override;

 private:
  struct Connection;
  class Call;

  template <typename Operation>
  platform::OSStatus serve(const platform::KeychainQuery& query, Operation operation);

  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  bool answered_ = false;
};

}  // namespace tidingsbell::standin
