#pragma once
// The stand-in keychain: generic-password items in one file per user. Items match on class,
// service and account only; value data in a query never narrows a match, as on the platform.

#include <filesystem>

#include "platform/keychain.hpp"
#include "platform/standin/stored_file.hpp"

namespace tidingsbell::standin {

// With TIDINGSBELL_STANDIN_KEYCHAIN_ADD_FAILS=1 the keychain's disk is full: an add fails with
// errSecIO when the file it would write is larger than any this keychain has read, so a longer
// value no longer fits while one that was there before fits again.
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
  StoredFile::Contents read();

  StoredFile file_;
  bool diskFull_ = false;
  std::size_t room_ = 0;  // the largest file read so far: what a full disk still holds
};

}  // namespace tidingsbell::standin
