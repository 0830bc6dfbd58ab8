#pragma once
// Runs one of the stand-in programs as a child process with pipes on its standard streams, for
// the tests that drive the programs through their command forms.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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

// Runs a program with the given input lines until it exits. Standard output and error are read
// while the input goes in and while the program runs, so that neither side waits on a full pipe.
inline Finished runToEnd(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::vector<std::string>& lines = {}) {
  Finished finished;
  int pipes[3][2];  // standard input, output and error; the child gets the far end of each
  for (auto& ends : pipes) {
    if (::pipe2(ends, O_CLOEXEC) != 0) return finished;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd)
    posix_spawn_file_actions_adddup2(&actions, pipes[fd][fd == 0 ? 0 : 1], fd);
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
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int fd = 0; fd < 3; ++fd) ::close(pipes[fd][fd == 0 ? 0 : 1]);
  // A write to a child that stopped reading returns at once; one that exited fails (EPIPE)
  // instead of ending the test program.
  ::fcntl(pipes[0][1], F_SETFL, O_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);

  std::string input;
  for (const auto& line : lines) input += line + "\n";
  std::string_view left = input;
  int in = pipes[0][1];
  struct Stream {
    int fd;
    std::string* into;
  } streams[2] = {{pipes[1][0], &finished.out}, {pipes[2][0], &finished.err}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (in >= 0 || streams[0].fd >= 0 || streams[1].fd >= 0) {
    if (left.empty() && in >= 0) {
      ::close(in);
      in = -1;
      continue;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (wait.count() <= 0) break;
    pollfd fds[3] = {{in, POLLOUT, 0}, {streams[0].fd, POLLIN, 0}, {streams[1].fd, POLLIN, 0}};
    if (::poll(fds, 3, static_cast<int>(wait.count())) <= 0) continue;
    if (fds[0].revents != 0) {
      const ssize_t n = ::write(in, left.data(), left.size());
      if (n >= 0) left.remove_prefix(static_cast<std::size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) left = {};  // the child is gone
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i + 1].revents == 0) continue;
      char chunk[65536];
      const ssize_t n = ::read(streams[i].fd, chunk, sizeof chunk);
      if (n > 0) streams[i].into->append(chunk, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        ::close(streams[i].fd);
        streams[i].fd = -1;
      }
    }
  }
  for (const int fd : {in, streams[0].fd, streams[1].fd}) {
    if (fd >= 0) ::close(fd);
  }
  if (pid <= 0) return finished;
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
  return finished;
}

}  // namespace tidingsbell::testing
