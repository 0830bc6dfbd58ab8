#pragma once
// The desktop's keychain: generic-password items kept by the freedesktop Secret Service (GNOME
// Keyring, KWallet, KeePassXC), reached through libsecret. Each item carries the string attributes
// "service" and "account" and nothing else to match on, so any Secret Service client finds it by
// those two (`secret-tool lookup service S account A`); the value is kept byte for byte.
//
// It answers as the platform's keychain does: errSecItemNotFound, errSecDuplicateItem, value data
// never narrowing a match. It never asks the user anything: where the keyring would have to
// prompt (a locked collection, no default collection yet) the call fails with
// errSecInteractionNotAllowed. A Secret Service that is gone, or that does not answer within the
// bound, gives errSecNotAvailable, and a later call connects afresh; nothing is ever written
// anywhere else. A call that finds the service gone on a connection made earlier (the daemon
// restarted since) is tried once more on a new connection, within the same bound.
//
// A call that did not answer in time may still be carried out when the keyring wakes: every
// change is one that can land late without harm. An add creates with replace (never a second
// item), an update sets the value in place, and nothing is deleted on the product's behalf.
//
// Safe to call from any thread: calls are taken one at a time.

#include <chrono>
#include <memory>
#include <mutex>

#include "platform/standin/keychain.hpp"

namespace tidingsbell::standin {

class SecretServiceKeychain final : public EditableKeychain {
 public:
  // How long one operation may wait for the Secret Service's answers: a keyring answers in
  // milliseconds, so this only bounds one that has stopped answering.
  static constexpr std::chrono::milliseconds kDefaultBound{5000};

  // Connects to the Secret Service on the session bus.
  explicit SecretServiceKeychain(std::chrono::milliseconds bound = kDefaultBound);
  SecretServiceKeychain(const SecretServiceKeychain&) = delete;
  SecretServiceKeychain& operator=(const SecretServiceKeychain&) = delete;
  ~SecretServiceKeychain() override;

  // Whether a Secret Service answered when this keychain was made.
  [[nodiscard]] bool answered() const { return answered_; }
  // Whether none was there to answer (no session bus, or nothing serving the Secret Service on
  // it). One that is there but did not answer in time is not absent: it is a keyring that has
  // stopped answering, which is an error, never a reason to keep the token somewhere else.
  [[nodiscard]] bool absent() const { return absent_; }

  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
  platform::OSStatus deleteItem(const platform::KeychainQuery& query) override;
  platform::OSStatus add(const platform::KeychainQuery& attributes) override;
  // The matching items' secrets set in place.
  platform::OSStatus update(const platform::KeychainQuery& query,
                            const platform::KeychainQuery& attributesToUpdate) override;

 private:
  struct Connection;
  class Call;

  template <typename Operation>
  platform::OSStatus serve(const platform::KeychainQuery& query, Operation operation);

  std::chrono::milliseconds bound_;
  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  bool answered_ = false;
  bool absent_ = false;
};

}  // namespace tidingsbell::standin
