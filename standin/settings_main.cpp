// tidingsbell-settings: the host application's settings window, in a terminal.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "standin/settings_app.hpp"

int main() {
  tidingsbell::standin::SettingsApp app;
  if (::isatty(STDIN_FILENO) != 0) {
    std::printf("%s\n%s\n", app.windowLine().c_str(), tidingsbell::standin::SettingsApp::kHelp);
    std::fflush(stdout);
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!app.execute(line)) break;
  }
  app.terminate();
  return 0;
}
