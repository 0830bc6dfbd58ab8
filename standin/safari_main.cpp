// tidingsbell-safari: the stand-in Safari with the extension linked in.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "standin/safari_host.hpp"

int main() {
  tidingsbell::standin::SafariHost safari;
  if (::isatty(STDIN_FILENO) != 0)
    std::fprintf(stderr, "%s\n", tidingsbell::standin::SafariHost::kHelp);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!safari.execute(line)) break;
  }
  safari.waitIdle();
  return 0;
}
