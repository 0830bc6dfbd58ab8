#pragma once
// The stand-in keychain: generic-password items in one file per user. Items match on class,
// service and account only; value data in a query never narrows a match, as on the platform.

#include <filesystem>

#include "platform/keychain.hpp"
#include "platform/standin/stored_file.hpp"

namespace tidingsbell::standin {

class FileKeychain final : public platform::Keychain {
 public:
  FileKeychain();  // the user's keychain under dataDirectory()
  explicit FileKeychain(std::filesystem::path file);

  platform::OSStatus copyMatching(const platform::KeychainQuery& query,
                                  platform::KeychainResult& result) override;
  platform::OSStatus deleteItem(const platform::KeychainQuery& query) override;
  platform::OSStatus add(const platform::KeychainQuery& attributes) override;

  [[nodiscard]] const std::filesystem::path& path() const { return file_.path(); }

 private:
  StoredFile file_;
};

}  // namespace tidingsbell::standin
