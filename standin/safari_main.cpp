// tidingsbell-safari: the stand-in Safari with the extension linked in.

#include <csignal>

#include "standin/command_line.hpp"
#include "standin/safari_host.hpp"

namespace {

constexpr tidingsbell::standin::Program kProgram{
    .name = "tidingsbell-safari",
    .usage = {},
    .summary = "The stand-in Safari with the extension inside: prints what the toolbar shows.",
    .commands =
        "validate [WINDOW] | click [WINDOW] | advance SECONDS | notify ACTION | present |\n"
        "       page URL|none|nourl | message JSON | wait | quit"};

}  // namespace

int main(int argc, char** argv) {
  using namespace tidingsbell::standin;
  if (auto status = answerArguments(kProgram, argc, argv)) return *status;
  // A reader that went away (a closed pipe) fails the next write, which the exit status reports.
  std::signal(SIGPIPE, SIG_IGN);
  SafariHost safari;
  runCommands(kProgram, safari);
  safari.waitIdle();
  // Its output is what a run is for: lines that could not be written fail it.
  return outputStatus(kProgram);
}
