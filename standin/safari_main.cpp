// tidingsbell-safari: the stand-in Safari with the extension linked in.

#include <unistd.h>

#include <cstdio>
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
  if (auto status = answerArguments(kProgram, argc, argv)) return *status;
  SafariHost safari;
  if (::isatty(STDIN_FILENO) != 0) std::fprintf(stderr, "%s\n", SafariHost::kHelp);
  forEachInputLine([&safari](const std::string& line) { return safari.execute(line); });
  safari.waitIdle();
  // Its output is what a run is for: lines that could not be written fail it.
  return outputStatus(kProgram);
}
