#pragma once
// The stand-in keychain: generic-password items in one file per user. Items match on class,
// service and account only; value data in a query never narrows a match, as on the platform.

#include <filesystem>

#include "platform/keychain.hpp"
#include "platform/standin/stored_file.hpp"

namespace tidingsbell::standin {

// A stand-in keychain as the keychain tool edits it: the product's calls and a delete, which the
// product never makes (the platform's own tool does).
class EditableKeychain : public platform::Keychain {
 public:
  virtual platform::OSStatus deleteItem(const platform::KeychainQuery& query) = 0;
};

class FileKeychain final : public EditableKeychain {
 public:
  FileKeychain();  // the user's keychain under dataDirectory()
  explicit FileKeychain(std::filesystem::path file);

  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
  platform::OSStatus deleteItem(const platform::KeychainQuery& query) override;
  // The move into the keyring's delete: only an item that still holds the value moved, so that a
  // save that reached the file in between stays.
  platform::OSStatus deleteItemHolding(const platform::KeychainQuery& query,
                                       const platform::Bytes& value);
  platform::OSStatus add(const platform::KeychainQuery& attributes) override;
  // One atomic write: the file holds the old value or the new one, never neither.
  platform::OSStatus update(const platform::KeychainQuery& query,
                            const platform::KeychainQuery& attributesToUpdate) override;

  [[nodiscard]] const std::filesystem::path& path() const { return file_.path(); }

 private:
  platform::OSStatus erase(const platform::KeychainQuery& query,
                           const std::optional<platform::Bytes>& holding);

  StoredFile file_;
};

}  // namespace tidingsbell::standin
