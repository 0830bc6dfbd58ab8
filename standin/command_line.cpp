#include "standin/command_line.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/standin/output.hpp"
#include "tidingsbell_version.hpp"

namespace tidingsbell::standin {
namespace {

void writeUsage(std::FILE* to, const Program& program) {
  if (program.commands.empty()) {
    std::fprintf(to, "usage: %.*s\n", static_cast<int>(program.usage.size()), program.usage.data());
    return;
  }
  std::fprintf(to, "usage: %.*s, then one command a line on standard input:\n       %.*s\n",
               static_cast<int>(program.name.size()), program.name.data(),
               static_cast<int>(program.commands.size()), program.commands.data());
}

// The commands on one line.
std::string commandList(const Program& program) {
  std::string list(program.commands);
  constexpr std::string_view kBreak = "\n       ";
  for (auto at = list.find(kBreak); at != std::string::npos; at = list.find(kBreak, at)) {
    list.replace(at, kBreak.size(), " ");
  }
  return list;
}

}  // namespace

std::optional<int> answerStandardOption(const Program& program, int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string_view argument = argv[1];
  if (argument != "--help" && argument != "--version") return std::nullopt;
  if (argc > 2) return usageError(program, std::string("unexpected argument ") + argv[2]);
  if (argument == "--help") {
    writeUsage(stdout, program);
    std::printf("%.*s\n", static_cast<int>(program.summary.size()), program.summary.data());
    return outputStatus(program);
  }
  std::printf("%.*s %s\n", static_cast<int>(program.name.size()), program.name.data(),
              kTidingsbellVersion);
  return outputStatus(program);
}

std::optional<int> answerArguments(const Program& program, int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  if (auto status = answerStandardOption(program, argc, argv)) return status;
  return usageError(program, std::string("unexpected argument ") + argv[1]);
}

int outputStatus(const Program& program) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
  const int error = errno;
  std::fprintf(stderr, "%.*s: cannot write standard output%s%s\n",
               static_cast<int>(program.name.size()), program.name.data(), error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return 1;
}

int usageError(const Program& program, std::string_view problem) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(program.name.size()), program.name.data(),
               static_cast<int>(problem.size()), problem.data());
  writeUsage(stderr, program);
  return kExitUsage;
}

CommandLine splitCommand(const std::string& line) {
  const auto space = line.find(' ');
  if (space == std::string::npos) return {line, ""};
  return {line.substr(0, space), line.substr(space + 1)};
}

void runCommands(const Program& program, CommandHost& host) {
  const std::string name(program.name);
  if (::isatty(STDIN_FILENO) != 0) writeLocked(stderr, "commands: " + commandList(program) + "\n");
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") return;
    if (line == "wait") {
      host.waitIdle();
      writeLocked(stdout, "idle\n");
    } else if (!line.empty() && !host.execute(line)) {
      // The word alone: the rest of the line may be a token typed after a misspelt command.
      writeLocked(stderr,
                  name + ": unknown command: " + line.substr(0, line.find_first_of(" \t")) + "\n");
    }
  }
}

}  // namespace tidingsbell::standin
