#pragma once
// What every stand-in program shares as a command-line tool: `--help` and `--version` answered
// on standard output with exit 0, usage errors on standard error with exit 2, and exit 1 when
// what the program printed could not be written.

#include <optional>
#include <string>
#include <string_view>

namespace tidingsbell::standin {

inline constexpr int kExitUsage = 2;

struct Program {
  std::string_view name;     // as invoked, for example "tidingsbell-keychain"
  std::string_view usage;    // the lines after "usage: ", each starting with the name
  std::string_view summary;  // one line saying what the program is for
  // For a program driven one command a line on standard input, instead of `usage`: the commands,
  // separated by " | ", over lines that go on after "\n       ".
  std::string_view commands = {};
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

// What a program driven from standard input does with each command line.
class CommandHost {
 public:
  virtual ~CommandHost() = default;
  // Runs one line (never empty, nor `wait` or `quit`); false when it is no command of the host's.
  virtual bool execute(const std::string& line) = 0;
  // Returns once every piece of work started so far is done.
  virtual void waitIdle() = 0;
};

// A command line's first word, and what follows the space after it.
struct CommandLine {
  std::string command;
  std::string rest;
};
CommandLine splitCommand(const std::string& line);

// The command loop: lists the commands on standard error when standard input is a terminal, then
// hands each line of standard input, without its line ending, to the host until `quit` or the
// end of the input. `wait` prints "idle" once the host's work is done; an empty line does
// nothing; one the host does not know is named on standard error.
void runCommands(const Program& program, CommandHost& host);

}  // namespace tidingsbell::standin
