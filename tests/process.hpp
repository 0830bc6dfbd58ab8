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
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace tidingsbell::testing {

// A program built next to the tests: $TIDINGSBELL_BUILD_DIR/standin/NAME.
inline std::string programPath(const std::string& name) {
  const char* build = std::getenv("TIDINGSBELL_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/standin/" + name;
}

class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& env) {
    int pipes[3][2];  // standard input, output and error; the child gets the far end of each
    for (auto& ends : pipes) {
      if (::pipe2(ends, O_CLOEXEC) != 0) return;
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
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd = 0; fd < 3; ++fd) ::close(pipes[fd][fd == 0 ? 0 : 1]);
    stdin_ = pipes[0][1];
    stdout_ = pipes[1][0];
    stderr_ = pipes[2][0];
    // A write to a child that stopped reading returns at once; one that exited fails (EPIPE)
    // instead of ending the test program.
    ::fcntl(stdin_, F_SETFL, O_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  [[nodiscard]] pid_t pid() const { return pid_; }

  // Keeps standard output and error read while the line goes in, so that neither the child nor
  // the test waits on a full pipe.
  void send(const std::string& line) { (void)pump(line + "\n", false); }
  void closeInput() {
    ::close(stdin_);
    stdin_ = -1;
  }
  // The next line of standard output, or nullopt when none came within 20 s.
  std::optional<std::string> readLine() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
        std::string line = outBuffer_.substr(0, end);
        outBuffer_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{stdout_, POLLIN, 0};
      if (left.count() <= 0) return std::nullopt;
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      outBuffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Waits for the exit, 30 s at most, and returns the exit status (-1 for a signal or a time-out).
  int wait() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!exitStatus_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      } else {
        ::usleep(2000);
      }
    }
    return *exitStatus_;
  }
  // What is left on standard output or error, read until the child closes them (30 s at most).
  std::string remainingOutput() {
    (void)pump({}, true);
    return std::exchange(outBuffer_, {});
  }
  std::string remainingErrors() {
    (void)pump({}, true);
    return std::exchange(errBuffer_, {});
  }

 private:
  // Writes `input` while reading standard output and error as they come; with `toEnd`, goes on
  // until both have ended. False when 30 s passed first.
  bool pump(std::string_view input, bool toEnd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (input.empty() && (!toEnd || (outEnded_ && errEnded_))) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fds[3] = {{input.empty() ? -1 : stdin_, POLLOUT, 0},
                       {outEnded_ ? -1 : stdout_, POLLIN, 0},
                       {errEnded_ ? -1 : stderr_, POLLIN, 0}};
      if (::poll(fds, 3, static_cast<int>(left.count())) <= 0) continue;
      if (fds[0].revents != 0) {
        const ssize_t n = ::write(stdin_, input.data(), input.size());
        if (n >= 0) input.remove_prefix(static_cast<std::size_t>(n));
        if (n < 0 && errno != EAGAIN && errno != EINTR) input = {};  // the child is gone
      }
      readSome(fds[1], outBuffer_, outEnded_);
      readSome(fds[2], errBuffer_, errEnded_);
    }
  }
  static void readSome(const pollfd& p, std::string& into, bool& ended) {
    if (p.fd < 0 || p.revents == 0) return;
    char chunk[65536];
    const ssize_t n = ::read(p.fd, chunk, sizeof chunk);
    if (n > 0) into.append(chunk, static_cast<std::size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) ended = true;
  }

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string outBuffer_, errBuffer_;
  bool outEnded_ = false, errEnded_ = false;
  std::optional<int> exitStatus_;
};

struct Finished {
  int status = -1;
  std::string out, err;
};

// Runs a program with the given input lines until it exits.
inline Finished runToEnd(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::vector<std::string>& lines = {}) {
  ChildProcess child(argv, env);
  for (const auto& line : lines) child.send(line);
  child.closeInput();
  Finished finished;
  finished.out = child.remainingOutput();  // read while the child runs: it may write a lot
  finished.err = child.remainingErrors();
  finished.status = child.wait();
  return finished;
}

}  // namespace tidingsbell::testing
