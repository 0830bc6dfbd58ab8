#include "standin/command_line.hpp"

#include <cstdio>

#include "tidingsbell_version.hpp"

namespace tidingsbell::standin {
namespace {

void writeUsage(std::FILE* to, const Program& program) {
  std::fprintf(to, "usage: %.*s\n", static_cast<int>(program.usage.size()), program.usage.data());
}

}  // namespace

std::optional<int> answerStandardOption(const Program& program, std::string_view argument) {
  if (argument == "--help") {
    writeUsage(stdout, program);
    std::printf("%.*s\n", static_cast<int>(program.summary.size()), program.summary.data());
    return 0;
  }
  if (argument == "--version") {
    std::printf("%.*s %s\n", static_cast<int>(program.name.size()), program.name.data(),
                kTidingsbellVersion);
    return 0;
  }
  return std::nullopt;
}

std::optional<int> answerArguments(const Program& program, int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  if (auto status = answerStandardOption(program, argv[1])) return status;
  return usageError(program, std::string("unexpected argument ") + argv[1]);
}

int usageError(const Program& program, std::string_view problem) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(program.name.size()), program.name.data(),
               static_cast<int>(problem.size()), problem.data());
  writeUsage(stderr, program);
  return kExitUsage;
}

}  // namespace tidingsbell::standin
