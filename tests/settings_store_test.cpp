#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/standin/keychain.hpp"
#include "platform/standin/secret_service_keychain.hpp"
#include "platform/standin/user_defaults.hpp"
#include "shared/SettingsStore.hpp"
#include "tests/fakes.hpp"
#include "tests/temp_folder.hpp"

namespace tidingsbell {
namespace {

using platform::Bytes;
using platform::KeychainQuery;
using testing::bytes;
using testing::RecordingKeychain;

class SettingsStoreTest : public ::testing::Test {
 protected:
  RecordingKeychain keychain;
  const SettingsStore store{keychain};
};

// Add, then update the value in place: nothing read first, nothing deleted, so whatever the
// keychain refuses the old value stays.
TEST_F(SettingsStoreTest, ASaveAddsThenUpdatesInPlaceAndKeepsTheOldValueOnFailure) {
  const auto operations = [this] {
    std::vector<std::string> names;
    for (const auto& call : keychain.calls) names.push_back(call.operation);
    keychain.calls.clear();
    return names;
  };
  using Operations = std::vector<std::string>;
  ASSERT_TRUE(store.saveToken("first"));
  EXPECT_EQ(operations(), Operations{"add"});

  ASSERT_TRUE(store.saveToken("second"));
  const KeychainQuery item{.secClass = platform::SecClass::GenericPassword,
                           .service = std::string(kKeychainService),
                           .account = "personal_access_token"};
  ASSERT_EQ(keychain.calls.size(), 2u);
  EXPECT_EQ(keychain.calls[1].query, item);  // the item alone: no value, nothing returned
  EXPECT_EQ(operations(), (Operations{"add", "update"}));
  EXPECT_EQ(store.readToken(), "second");

  // Deleted between the add and the update: one more add.
  keychain.beforeUpdate = [this] {
    keychain.items.erase("personal_access_token");
    keychain.beforeUpdate = nullptr;
  };
  keychain.calls.clear();
  EXPECT_TRUE(store.saveToken("third"));
  EXPECT_EQ(operations(), (Operations{"add", "update", "add"}));
  EXPECT_EQ(store.readToken(), "third");

  ASSERT_TRUE(store.saveMuteFlag(true));
  keychain.forcedUpdateStatus = platform::errSecIO;
  EXPECT_FALSE(store.saveToken("a longer token that no longer fits"));
  EXPECT_FALSE(store.saveMuteFlag(false));
  EXPECT_EQ(store.readToken(), "third");
  EXPECT_EQ(store.readMuteFlag(), true);

  keychain.calls.clear();
  keychain.addsToFail = 1;  // a full disk: nothing to update either
  EXPECT_FALSE(store.saveToken("fourth"));
  EXPECT_EQ(operations(), Operations{"add"});
}

TEST_F(SettingsStoreTest, FailedOrNonDataReadsGiveNone) {
  keychain.items["personal_access_token"] = platform::NotData{};
  keychain.items["mute_switch"] = std::monostate{};
  EXPECT_EQ(store.readToken(), std::nullopt);
  EXPECT_EQ(store.readMuteFlag(), std::nullopt);
  keychain.store("personal_access_token", bytes("tok"));
  keychain.forcedCopyStatus = -34018;
  EXPECT_EQ(store.readToken(), std::nullopt);
}

// Bytes that are not UTF-8 read as none; text with no UTF-8 form is refused before anything is
// written.
TEST_F(SettingsStoreTest, TokensThatAreNotUtf8ReadAsNoneAndAreNeverSaved) {
  for (const Bytes& invalid : {Bytes{0xFF}, Bytes{0xC3}, Bytes{0xC0, 0xAF}, Bytes{0xED, 0xA0, 0x80},
                               Bytes{0xF4, 0x90, 0x80, 0x80}}) {
    keychain.store("personal_access_token", invalid);
    EXPECT_EQ(store.readToken(), std::nullopt);
  }
  keychain.store("personal_access_token", bytes("kept"));
  keychain.calls.clear();
  EXPECT_FALSE(store.saveToken("\xFF"));
  EXPECT_TRUE(keychain.calls.empty());
  EXPECT_EQ(store.readToken(), "kept");
}

TEST_F(SettingsStoreTest, MuteFlagLooksAtTheFirstByteOnly) {
  const std::vector<std::pair<Bytes, std::optional<bool>>> cases = {
      {{0x01}, true}, {{0x00}, false}, {{0x02}, true}, {{0x00, 0x01}, false}, {{}, std::nullopt}};
  for (const auto& [stored, expected] : cases) {
    keychain.store("mute_switch", stored);
    EXPECT_EQ(store.readMuteFlag(), expected);
  }
}

// The keychain seam as both stand-in keychains answer it: the file, and the desktop's Secret
// Service. The Secret Service runs only in the throwaway keyring that scripts/with-keyring starts
// (ctest runs it so), never in the keyring of whoever runs the tests.
class KeychainSeamTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "File") {
      keychain = std::make_unique<standin::FileKeychain>(folder.path() / "keychain.json");
      return;
    }
    if (std::getenv("TIDINGSBELL_TEST_KEYRING") == nullptr) {
      GTEST_SKIP() << "no throwaway keyring here: scripts/with-keyring runs this";
    }
    auto secretService = std::make_unique<standin::SecretServiceKeychain>();
    ASSERT_TRUE(secretService->answered());
    keychain = std::move(secretService);
    for (const char* service : {"svc", "com.marblequail.Tidingsbell"}) {
      keychain->deleteItem({.secClass = platform::SecClass::GenericPassword, .service = service});
    }
  }

  testing::TempFolder folder;
  std::unique_ptr<standin::EditableKeychain> keychain;
};

INSTANTIATE_TEST_SUITE_P(Keychains, KeychainSeamTest, ::testing::Values("File", "SecretService"),
                         [](const auto& kind) { return kind.param; });

// Statuses as the platform gives them, value data that never narrows a match, and values kept
// byte for byte: none, a single 0x00, bytes that are not UTF-8.
TEST_P(KeychainSeamTest, AnswersWithThePlatformsStatusesAndKeepsValuesExactly) {
  struct Step {
    const char* operation;  // "copy", "copy attributes", "delete", "add" or "update"
    std::optional<std::string> account;
    std::optional<Bytes> value;
    platform::OSStatus status;
    std::optional<Bytes> found = std::nullopt;
  };
  const std::vector<Step> steps = {
      {"copy", "a", std::nullopt, platform::errSecItemNotFound},
      {"delete", "a", std::nullopt, platform::errSecItemNotFound},
      {"add", "a", bytes("v1"), platform::errSecSuccess},
      {"add", "a", bytes("other"), platform::errSecDuplicateItem},
      {"copy", "a", bytes("other"), platform::errSecSuccess, bytes("v1")},
      {"update", "a", bytes("v2"), platform::errSecSuccess},
      {"update", "z", bytes("v2"), platform::errSecItemNotFound},
      {"copy", "a", std::nullopt, platform::errSecSuccess, bytes("v2")},
      {"copy attributes", "a", std::nullopt, platform::errSecSuccess},
      {"delete", "a", bytes("other"), platform::errSecSuccess},
      {"copy", "a", std::nullopt, platform::errSecItemNotFound},
      {"add", "a", Bytes{0x00}, platform::errSecSuccess},
      {"copy", "a", std::nullopt, platform::errSecSuccess, Bytes{0x00}},
      {"add", "b", Bytes{}, platform::errSecSuccess},
      {"copy", "b", std::nullopt, platform::errSecSuccess, Bytes{}},
      {"add", "c", Bytes{0xFF, 0x00, 0xC3}, platform::errSecSuccess},
      {"copy", "c", std::nullopt, platform::errSecSuccess, Bytes{0xFF, 0x00, 0xC3}},
      {"add", std::nullopt, bytes("no account"), platform::errSecParam},
      {"delete", std::nullopt, std::nullopt, platform::errSecSuccess},  // the service's every item
      {"copy", "b", std::nullopt, platform::errSecItemNotFound},
  };
  for (const Step& step : steps) {
    const std::string operation = step.operation;
    SCOPED_TRACE(operation + " " + step.account.value_or("(no account)"));
    KeychainQuery query{.secClass = platform::SecClass::GenericPassword,
                        .service = "svc",
                        .account = step.account,
                        .valueData = step.value};
    platform::KeychainResult result;
    if (operation == "copy") {
      query.returnData = true;
      query.matchLimit = platform::SecMatchLimit::One;
      EXPECT_EQ(keychain->copyMatching(query, result), step.status);
      if (step.found) {
        EXPECT_EQ(result, platform::KeychainResult(*step.found));
      }
    } else if (operation == "copy attributes") {
      EXPECT_EQ(keychain->copyMatching(query, result), step.status);
      EXPECT_TRUE(std::holds_alternative<platform::NotData>(result));
    } else if (operation == "delete") {
      EXPECT_EQ(keychain->deleteItem(query), step.status);
    } else if (operation == "update") {
      query.valueData.reset();
      EXPECT_EQ(keychain->update(query, {.valueData = step.value}), step.status);
    } else {
      EXPECT_EQ(keychain->add(query), step.status);
    }
  }
  platform::KeychainResult result;
  EXPECT_EQ(keychain->copyMatching({.service = "svc", .account = "a"}, result),
            platform::errSecParam);  // no class: not a generic-password query
}

// The stand-in Safari reads the keychain on URL-session threads while its command loop does too.
TEST_P(KeychainSeamTest, ReadsFromSeveralThreadsAtOnce) {
  const SettingsStore store(*keychain);
  ASSERT_TRUE(store.saveToken("shared"));
  std::vector<std::thread> threads;
  std::atomic<int> wrong = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) wrong += store.readToken() == "shared" ? 0 : 1;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

// The store over the stand-in keychain file.
class FileKeychainTest : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::filesystem::path file = folder.path() / "store" / "keychain.json";
  standin::FileKeychain keychain{file};
  SettingsStore store{keychain};
};

TEST_F(FileKeychainTest, KeepsTheFilePrivate) {
  ASSERT_TRUE(store.saveToken("first"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// The move into the keyring removes what it moved, never a token saved to the file meanwhile.
TEST_F(FileKeychainTest, TheMovesDeleteSparesAValueSavedSince) {
  ASSERT_TRUE(store.saveToken("moved"));
  ASSERT_TRUE(store.saveToken("saved since"));
  platform::KeychainQuery item;
  item.secClass = platform::SecClass::GenericPassword;
  item.service = std::string(kKeychainService);
  item.account = std::string(kTokenAccount);
  EXPECT_EQ(keychain.deleteItemHolding(item, platform::Bytes{'m', 'o', 'v', 'e', 'd'}),
            platform::errSecItemNotFound);
  EXPECT_EQ(store.readToken(), "saved since");
}

// The defaults file beside it too: corrupt reads as empty, and the next change rewrites it whole.
TEST_F(FileKeychainTest, CorruptFileReadsAsNoneAndTheNextSaveStartsAfreshBesideIt) {
  ASSERT_TRUE(store.saveToken("lost"));
  const auto defaultsFile = file.parent_path() / "defaults.json";
  standin::FileUserDefaults defaults(defaultsFile);
  for (const std::string& garbage :
       std::vector<std::string>{"{\"items\":[{\"class\":\"genp\"", "not json", "{\"items\":7}",
                                std::string("\0\0\0", 3)}) {
    std::ofstream(file, std::ios::trunc) << garbage;
    std::ofstream(defaultsFile, std::ios::trunc) << garbage;
    EXPECT_EQ(store.readToken(), std::nullopt);
    EXPECT_EQ(store.readMuteFlag(), std::nullopt);
    EXPECT_EQ(defaults.objectForKey("k"), std::nullopt);
    ASSERT_TRUE(store.saveToken("fresh"));
    ASSERT_TRUE(defaults.set(platform::Date(platform::Seconds(5.0)), "k"));
    EXPECT_EQ(store.readToken(), "fresh");
    EXPECT_EQ(standin::FileUserDefaults(defaultsFile).objectForKey("k"),
              platform::PropertyListValue(platform::Date(platform::Seconds(5.0))));
  }
  int asides = 0;
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
    asides += entry.path().filename().string().starts_with("keychain.json.corrupt-") ? 1 : 0;
  }
  EXPECT_GE(asides, 1);
}

// Neither store hangs or aborts on a file of the wrong kind: what is not a regular file is
// unreadable and left alone; a regular file too large to be a store is corrupt and replaced.
TEST_F(FileKeychainTest, StoreFilesOfTheWrongKindNeverHangAndAreLeftAloneOrReplaced) {
  struct Kind {
    const char* name;
    void (*make)(const std::filesystem::path&);
    bool replacedOnSave;
  };
  const std::vector<Kind> kinds = {
      {"fifo", [](const auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false},
      {"link to /dev/zero", [](const auto& p) { std::filesystem::create_symlink("/dev/zero", p); },
       false},
      {"folder", [](const auto& p) { std::filesystem::create_directories(p); }, false},
      {"over 1 MiB",
       [](const auto& p) { std::ofstream(p) << "{\"items\":[]}" << std::string(1024 * 1024, ' '); },
       true}};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const testing::TempFolder own;
    const auto keychainFile = own.path() / "keychain.json";
    const auto defaultsFile = own.path() / "defaults.json";
    kind.make(keychainFile);
    kind.make(defaultsFile);
    standin::FileKeychain fileKeychain(keychainFile);
    const SettingsStore kindStore(fileKeychain);
    standin::FileUserDefaults defaults(defaultsFile);

    EXPECT_EQ(kindStore.readToken(), std::nullopt);
    EXPECT_EQ(defaults.objectForKey("k"), std::nullopt);
    EXPECT_EQ(kindStore.saveToken("t"), kind.replacedOnSave);
    EXPECT_EQ(defaults.set(std::string("v"), "k"), kind.replacedOnSave);
    EXPECT_EQ(kindStore.readToken(), kind.replacedOnSave ? std::optional("t") : std::nullopt);
    if (kind.replacedOnSave) {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(own.path()), {}), 6)
          << "each store, its lock and the oversized file moved aside";
    } else {
      EXPECT_FALSE(std::filesystem::is_regular_file(keychainFile));
    }
  }
}

// Only names a save of ours gives its temporaries are removed; a user's look-alike files stay,
// and so do leftovers named the old way, which cannot be told from them.
TEST_F(FileKeychainTest, ASaveRemovesOnlyTheTemporariesThatKilledSavesLeftBehind) {
  ASSERT_TRUE(store.saveToken("first"));
  const std::vector<std::string> stale = {"keychain.json.tidingsbell-tmp-AbC123",
                                          "keychain.json.tidingsbell-tmp-zzzzzz"};
  const std::vector<std::string> kept = {"keychain.json.lock",
                                         "keychain.json.backup",
                                         "keychain.json.2024q1",
                                         "keychain.json.AbC123",
                                         "other.json.tidingsbell-tmp-AbC123",
                                         "keychain.json.tidingsbell-tmp-AbC1234",
                                         "keychain.json.corrupt-20261207T000000.000Z"};
  for (const auto& name : stale) std::ofstream(file.parent_path() / name) << "ghp_secret";
  for (const auto& name : kept) std::ofstream(file.parent_path() / name) << "x";
  ASSERT_TRUE(store.saveToken("second"));
  for (const auto& name : stale) EXPECT_FALSE(std::filesystem::exists(file.parent_path() / name));
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(file.parent_path() / name));
}

TEST_F(FileKeychainTest, TwoProcessesSavingAndReadingNeverSeeATornFile) {
  constexpr int kRounds = 150;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    standin::FileKeychain own(file);
    const SettingsStore childStore(own);
    bool ok = true;
    for (int i = 0; i < kRounds; ++i) {
      ok = childStore.saveMuteFlag(i % 2 == 0) && ok;
      ok = childStore.readMuteFlag().has_value() && ok;
    }
    _exit(ok ? 0 : 1);
  }
  for (int i = 0; i < kRounds; ++i) {
    store.saveToken("token-" + std::to_string(i));
    // A read never fails on a half-written file: whatever it finds is a whole token.
    const auto token = store.readToken();
    if (token) {
      EXPECT_TRUE(token->starts_with("token-")) << *token;
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(store.readToken(), "token-" + std::to_string(kRounds - 1));
  EXPECT_EQ(store.readMuteFlag(), (kRounds - 1) % 2 == 0);
}

// A change the file could never hold is refused and forgotten: it neither shows in memory nor
// goes out with, and fails, a later change; one the disk could merely not take is kept.
TEST(FileUserDefaultsTest, AChangeThatCanNeverBeSavedIsNotKeptInMemory) {
  const testing::TempFolder folder;
  std::ofstream(folder.path() / "not-a-folder") << "x";
  for (const bool writable : {true, false}) {
    SCOPED_TRACE(writable);
    standin::FileUserDefaults defaults(folder.path() / (writable ? "" : "not-a-folder") /
                                       "domain.json");
    EXPECT_FALSE(defaults.set(std::string("\xC3"), "s"));
    EXPECT_FALSE(defaults.set(std::int64_t{1}, "\xFF"));
    EXPECT_EQ(defaults.objectForKey("s"), std::nullopt);
    EXPECT_EQ(defaults.set(std::int64_t{5}, "n"), writable);
    EXPECT_EQ(defaults.objectForKey("n"), platform::PropertyListValue(std::int64_t{5}));
  }
}

}  // namespace
}  // namespace tidingsbell
