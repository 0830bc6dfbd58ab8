// tidingsbell-safari: the stand-in Safari with the extension linked in.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "standin/command_line.hpp"
#include "standin/safari_host.hpp"

namespace {

constexpr tidingsbell::standin::Program kProgram{
    "tidingsbell-safari",
    "tidingsbell-safari, then one command a line on standard input:\n"
    "       validate [WINDOW] | click [WINDOW] | advance SECONDS | notify ACTION | present |\n"
    "       page URL|none|nourl | message JSON | wait | quit",
    "The stand-in Safari with the extension inside: prints what the toolbar shows."};

}  // namespace

int main(int argc, char** argv) {
  using namespace tidingsbell::standin;
  if (argc > 1) {
    if (auto status = answerStandardOption(kProgram, argv[1])) return *status;
    return usageError(kProgram, std::string("unexpected argument ") + argv[1]);
  }
  SafariHost safari;
  if (::isatty(STDIN_FILENO) != 0) std::fprintf(stderr, "%s\n", SafariHost::kHelp);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!safari.execute(line)) break;
  }
  safari.waitIdle();
  return 0;
}
