#include "standin/command_line.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tidingsbell_version.hpp"

namespace tidingsbell::standin {
namespace {

void writeUsage(std::FILE* to, const Program& program) {
  std::fprintf(to, "usage: %.*s\n", static_cast<int>(program.usage.size()), program.usage.data());
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

}  // namespace tidingsbell::standin
