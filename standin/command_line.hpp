#pragma once
// What every stand-in program shares as a command-line tool: `--help` and `--version` answered
// on standard output with exit 0, and usage errors on standard error with exit 2.

#include <optional>
#include <string_view>

namespace tidingsbell::standin {

inline constexpr int kExitUsage = 2;

struct Program {
  std::string_view name;     // as invoked, for example "tidingsbell-keychain"
  std::string_view usage;    // the lines after "usage: ", each starting with the name
  std::string_view summary;  // one line saying what the program is for
};

// The exit status when `argument` is `--help` or `--version` (after answering it); none otherwise.
std::optional<int> answerStandardOption(const Program& program, std::string_view argument);

// Writes the problem and the usage to standard error; returns kExitUsage.
int usageError(const Program& program, std::string_view problem);

}  // namespace tidingsbell::standin
