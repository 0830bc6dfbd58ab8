// tidingsbell-github: the stand-in GitHub on loopback, for the demo and the tests.

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "standin/command_line.hpp"
#include "standin/github_server.hpp"

namespace {

using tidingsbell::standin::GithubServer;
using tidingsbell::standin::GithubServerOptions;

constexpr tidingsbell::standin::Program kProgram{
    "tidingsbell-github",
    "tidingsbell-github --certs DIR [--port N] [--token TEXT] [--count N]\n"
    "       [--status CODE --body FILE] [--stall] [--requests FILE]",
    "A stand-in GitHub on 127.0.0.1 for the notifications request; `count N` on standard input "
    "changes the number of notifications."};

int usage(const std::string& problem) {
  return tidingsbell::standin::usageError(kProgram, problem);
}

// Digits alone: strtol would also take leading spaces and a sign.
bool parseNumber(const char* text, int low, int high, int& out) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

// `count N` lines change the number of notifications; each is echoed once it applies.
void readCommands(GithubServer& server) {
  std::string pending;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) return;  // no more commands; the server goes on until it is told to stop
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      int count = 0;
      if (line.rfind("count ", 0) == 0 && parseNumber(line.c_str() + 6, 0, 1'000'000, count)) {
        server.setCount(count);
        std::printf("count %d\n", count);
        std::fflush(stdout);
      } else if (!line.empty()) {
        std::fprintf(stderr, "tidingsbell-github: unknown command: %s\n", line.c_str());
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  GithubServerOptions options;
  std::string certs;
  std::optional<std::string> bodyFile;
  if (auto status = tidingsbell::standin::answerStandardOption(kProgram, argc, argv)) {
    return *status;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--stall") {
      options.stall = true;
      continue;
    }
    static const char* const kTakesValue[] = {"--certs",  "--port", "--token",   "--count",
                                              "--status", "--body", "--requests"};
    if (std::find(std::begin(kTakesValue), std::end(kTakesValue), flag) == std::end(kTakesValue)) {
      return usage((flag.starts_with("-") ? "unknown option " : "unexpected argument ") + flag);
    }
    if (i + 1 == argc) return usage("missing value for " + flag);
    const char* value = argv[++i];
    if (flag == "--certs") {
      certs = value;
    } else if (flag == "--port") {
      if (!parseNumber(value, 0, 65535, options.port)) return usage("bad port");
    } else if (flag == "--token") {
      options.token = value;
    } else if (flag == "--count") {
      if (!parseNumber(value, 0, 1'000'000, options.count)) return usage("bad count");
    } else if (flag == "--status") {
      int status = 0;
      if (!parseNumber(value, 100, 599, status)) return usage("bad status");
      options.status = status;
    } else if (flag == "--body") {
      bodyFile = value;
    } else {
      options.requestLog = value;
    }
  }
  // The log is what the run was for: once a line of it is lost, the server stops and says so.
  static std::atomic<bool> logLost{false};
  options.logFailed = [](const std::string& problem) {
    std::fprintf(stderr, "tidingsbell-github: %s\n", problem.c_str());
    logLost = true;
    ::kill(::getpid(), SIGTERM);
  };
  if (certs.empty()) return usage("--certs DIR is required");
  if (options.status.has_value() != bodyFile.has_value()) {
    return usage("--status and --body go together");
  }
  if (bodyFile) {
    // A folder opens as a stream too, and reads as nothing: the answer would be empty.
    std::error_code error;
    std::ifstream in;
    if (std::filesystem::is_regular_file(*bodyFile, error)) in.open(*bodyFile, std::ios::binary);
    std::stringstream text;
    if (in.is_open()) text << in.rdbuf();
    if (!in.is_open() || in.bad()) {
      std::fprintf(stderr, "tidingsbell-github: cannot read %s\n", bodyFile->c_str());
      return 1;
    }
    options.body = text.str();
  }

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGPIPE);

  try {
    options.certificates =
        tidingsbell::standin::ensureCertificates(certs, {"api.github.com", "github.com"});
    // Every thread inherits the blocked signals; the main thread alone waits for them. Not
    // before the certificates are ready: until then a signal ends the program as any other.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    GithubServer server(std::move(options));
    const int port = server.start();
    // Whoever started the server waits for this line: one that cannot be written fails it.
    if (std::printf("listening 127.0.0.1:%d\n", port) < 0 || std::fflush(stdout) != 0) {
      throw std::runtime_error("cannot write standard output");
    }
    std::thread(readCommands, std::ref(server)).detach();
    for (;;) {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      if (signal != SIGPIPE) break;
    }
    server.stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tidingsbell-github: %s\n", error.what());
    return 1;
  }
  std::fflush(stdout);
  _exit(logLost ? 1 : 0);  // the command reader may still be blocked on standard input
}
