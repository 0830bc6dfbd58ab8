// tidingsbell-keychain: inspects and edits the stand-in keychain, as the platform's keychain tool
// does the real one. Like that tool it shows a stored value when asked to.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/standin/chosen_keychain.hpp"
#include "platform/standin/text.hpp"
#include "standin/command_line.hpp"

namespace {

using namespace tidingsbell;

constexpr int kExitNotFound = 44;
constexpr int kExitDuplicate = 45;

int fail(const std::string& message) {
  std::fprintf(stderr, "tidingsbell-keychain: %s\n", message.c_str());
  return 1;
}

constexpr standin::Program kProgram{
    "tidingsbell-keychain",
    "tidingsbell-keychain add -s SERVICE -a ACCOUNT (-w TEXT | -x HEX)\n"
    "       tidingsbell-keychain find -s SERVICE -a ACCOUNT\n"
    "       tidingsbell-keychain delete -s SERVICE -a ACCOUNT",
    "Inspects and edits the stand-in keychain's generic-password items; find prints the value "
    "in hexadecimal."};

int usage(const std::string& problem) {
  return standin::usageError(kProgram, problem);
}

std::string statusText(platform::OSStatus status) {
  return "the keychain refused the request (status " + std::to_string(status) + ")";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("missing command");
  if (auto status = standin::answerStandardOption(kProgram, argc, argv)) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
      std::printf("It works on the keychain the other programs use: %s.\n",
                  standin::chosenKeychain().description().c_str());
    }
    return *status;
  }
  const std::string_view command = argv[1];
  if (command != "add" && command != "find" && command != "delete") {
    return usage("unknown command " + std::string(command));
  }
  std::optional<std::string> service, account;
  std::optional<platform::Bytes> value;
  for (int i = 2; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return usage("missing value for " + flag);
    const std::string argument = argv[i + 1];
    if (flag == "-s") {
      service = argument;
    } else if (flag == "-a") {
      account = argument;
    } else if (flag == "-w") {
      value = platform::Bytes(argument.begin(), argument.end());
    } else if (flag == "-x") {
      value = standin::fromHex(argument);
      if (!value) return usage("-x takes an even number of hexadecimal digits");
    } else {
      return usage("unexpected option " + flag);
    }
  }
  if (!service || !account) return usage("-s SERVICE and -a ACCOUNT are required");
  if (value && command != "add") return usage("-w and -x belong to add");

  platform::KeychainQuery query;
  query.secClass = platform::SecClass::GenericPassword;
  query.service = *service;
  query.account = *account;
  standin::EditableKeychain& keychain = standin::chosenKeychain().keychain;

  if (command == "find") {
    query.returnData = true;
    query.matchLimit = platform::SecMatchLimit::One;
    platform::KeychainResult result;
    const auto status = keychain.copyMatching(query, result);
    if (status == platform::errSecItemNotFound) return fail("no such item"), kExitNotFound;
    if (status != platform::errSecSuccess) return fail(statusText(status));
    const auto* data = std::get_if<platform::Bytes>(&result);
    std::printf("%s\n", data != nullptr ? standin::toHex(*data).c_str() : "");
    return standin::outputStatus(kProgram);
  }
  if (command == "delete") {
    const auto status = keychain.deleteItem(query);
    if (status == platform::errSecItemNotFound) return fail("no such item"), kExitNotFound;
    return status == platform::errSecSuccess ? 0 : fail(statusText(status));
  }
  if (!value) return usage("add needs -w TEXT or -x HEX");
  query.valueData = std::move(*value);
  const auto status = keychain.add(query);
  if (status == platform::errSecDuplicateItem)
    return fail("the item already exists"), kExitDuplicate;
  return status == platform::errSecSuccess ? 0 : fail(statusText(status));
}
