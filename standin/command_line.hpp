#pragma once
// What every stand-in program shares as a command-line tool: `--help` and `--version` answered
// on standard output with exit 0, usage errors on standard error with exit 2, and exit 1 when
// what the program printed could not be written.

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace tidingsbell::standin {

inline constexpr int kExitUsage = 2;

struct Program {
  std::string_view name;     // as invoked, for example "tidingsbell-keychain"
  std::string_view usage;    // the lines after "usage: ", each starting with the name
  std::string_view summary;  // one line saying what the program is for
};

// The exit status when the first argument is `--help` or `--version`: after answering it, or a
// usage error when other arguments follow; none otherwise.
std::optional<int> answerStandardOption(const Program& program, int argc, char** argv);

// After a program's last output: 0 when everything it printed on standard output was written,
// else 1, with a line on standard error (a full disk, a closed pipe: the output is lost).
int outputStatus(const Program& program);

// Writes the problem and the usage to standard error; returns kExitUsage.
int usageError(const Program& program, std::string_view problem);

// For a program that takes no arguments but the two standard options: the exit status when it
// was given any (after answering), none when it should go on.
std::optional<int> answerArguments(const Program& program, int argc, char** argv);

// Hands each line of standard input, without its line ending, to `execute` until it returns
// false or the input ends.
template <typename Execute>
void forEachInputLine(Execute execute) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!execute(line)) return;
  }
}

}  // namespace tidingsbell::standin
