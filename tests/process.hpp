#pragma once
// Runs one of the stand-in programs as a child process, for the tests that drive the programs
// through their command forms.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/temp_folder.hpp"

extern char** environ;

namespace tidingsbell::testing {

// A program built next to the tests: $TIDINGSBELL_BUILD_DIR/standin/NAME.
inline std::string programPath(const std::string& name) {
  const char* build = std::getenv("TIDINGSBELL_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/standin/" + name;
}

struct Finished {
  int status = -1;  // the exit status; -1 for a signal, a failed start or 30 s without an end
  std::string out, err;
};

// Runs a program with the given input lines until it exits. Its standard streams are files, so
// that neither side ever waits on the other.
inline Finished runToEnd(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::vector<std::string>& lines = {}) {
  Finished finished;
  const TempFolder folder;
  const std::string files[3] = {folder.path() / "in", folder.path() / "out", folder.path() / "err"};
  {
    std::ofstream in(files[0], std::ios::binary);
    for (const auto& line : lines) in << line << '\n';
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, files[fd].c_str(),
                                     fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [key, value] : env) environment.push_back(key + "=" + value);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const bool started = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return finished;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return finished;
    }
    ::usleep(2000);
  }
  finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (int fd = 1; fd < 3; ++fd) {
    std::ifstream stream(files[fd], std::ios::binary);
    (fd == 1 ? finished.out : finished.err).assign(std::istreambuf_iterator<char>(stream), {});
  }
  return finished;
}

}  // namespace tidingsbell::testing
