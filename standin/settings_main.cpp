// tidingsbell-settings: the host application's settings window, in a terminal.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/standin/chosen_keychain.hpp"
#include "shared/SettingsStore.hpp"
#include "standin/command_line.hpp"
#include "standin/settings_app.hpp"

namespace {

constexpr tidingsbell::standin::Program kProgram{
    .name = "tidingsbell-settings",
    .usage = {},
    .summary = "The settings window of the host application, in a terminal.",
    .commands =
        "show | type TEXT | typejson \"JSON text\" | submit | mute on|off|mixed | prefs |\n"
        "       reopen | wait | quit"};

}  // namespace

int main(int argc, char** argv) {
  using namespace tidingsbell::standin;
  if (auto status = answerArguments(kProgram, argc, argv)) return *status;
  if (const ChosenKeychain& keychain = chosenKeychain(); keychain.fellBack) {
    std::fprintf(stderr, "tidingsbell-settings: the settings are kept in %s\n",
                 keychain.description().c_str());
  }
  // A token saved while no keyring answered goes into the keyring now that one does.
  if (const auto file =
          moveFileItemsIntoKeyring(std::string(tidingsbell::kKeychainService),
                                   {tidingsbell::kTokenAccount, tidingsbell::kMuteAccount})) {
    std::fprintf(stderr, "tidingsbell-settings: the settings kept in %s are now in %s\n",
                 file->c_str(), chosenKeychain().description().c_str());
  }
  SettingsApp app;
  if (::isatty(STDIN_FILENO) != 0) {
    std::printf("%s\n", app.windowLine().c_str());
    std::fflush(stdout);
  }
  runCommands(kProgram, app);
  app.terminate();
  return outputStatus(kProgram);
}
