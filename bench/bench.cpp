// Speed, memory and leak figures, each beside its yardstick measured in the same run.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <simdjson.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "extension/PollNotifications.hpp"
#include "extension/RefreshBadge.hpp"
#include "extension/SafariExtensionHandler.hpp"
#include "platform/standin/clock.hpp"
#include "platform/standin/threads.hpp"
#include "platform/standin/url.hpp"
#include "platform/standin/url_session.hpp"
#include "platform/standin/user_defaults.hpp"
#include "platform/standin/keychain.hpp"
#include "platform/standin/json.hpp"
#include "shared/SettingsStore.hpp"
#include "standin/github_server.hpp"

extern char** environ;

namespace tidingsbell {
namespace {

using Clock = std::chrono::steady_clock;

// Mean nanoseconds of `f` over enough runs to last about `budget`.
template <typename F>
double meanNanoseconds(F&& f, std::chrono::milliseconds budget = std::chrono::milliseconds(300)) {
  const auto start = Clock::now();
  std::size_t runs = 0;
  while (Clock::now() - start < budget) {
    for (int i = 0; i < 64; ++i) f();
    runs += 64;
  }
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
         static_cast<double>(runs);
}

std::filesystem::path scratch() {
  static const std::filesystem::path folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tidingsbell-bench-XXXXXX").string();
    return std::filesystem::path(::mkdtemp(pattern.data()));
  }();
  return folder;
}

class NullOutput final : public platform::StandardOutput, public platform::SystemLog {
 public:
  void write(std::string_view) override {}
  void log(std::string_view) override {}
};

class NoWindow final : public platform::SafariWindow {
 public:
  void openTab(const platform::Url&, bool,
               Callback<void(std::optional<platform::SafariTab>)>) override {}
};

class NoWorkspace final : public platform::Workspace {
 public:
  bool openURLs(const std::vector<platform::Url>&, std::string_view, std::uint64_t) override {
    return false;
  }
};

// The extension on the stand-ins, in this process, with its own keychain and defaults files.
struct Stack {
  Stack(standin::CurlSessionOptions sessionOptions, const std::string& name)
      : keychain(scratch() / name / "keychain.json"),
        defaults(scratch() / name / "defaults.json"),
        sessions(std::move(sessionOptions)) {
    SettingsStore(keychain).saveToken("bench-token");
  }
  standin::FileKeychain keychain;
  standin::FileUserDefaults defaults;
  standin::OffsetClock clock;
  standin::CurlUrlParser urls;
  standin::CurlSessionFactory sessions;
  standin::SimdjsonReader json;
  NullOutput out;
  NoWorkspace workspace;
  standin::CreatorThreadIsMain mainThread;
  ExtensionPlatform platform{keychain, defaults, clock, urls,      sessions,
                             json,     out,      out,   workspace, mainThread};

  // One validation through a fresh handler, to its badge.
  std::string validate() {
    clock.advance(platform::Seconds(61));
    std::string badge = "<none>";
    NoWindow window;
    {
      const SafariExtensionHandler handler(platform);
      handler.validateToolbarItemInWindow(window,
                                          [&badge](bool, std::string t) { badge = std::move(t); });
    }
    sessions.waitIdle();
    return badge;
  }
};

// A throttled validation on the stand-ins: one defaults read (a stat() while the file is
// unchanged), one calendar step, one comparison. Yardstick: one stat() of the defaults file.
void ThrottledValidation(benchmark::State& state) {
  Stack stack(standin::CurlSessionOptions{}, "throttle");
  stack.defaults.setObject(stack.clock.now(), kLastCheckKey);
  const auto& file = stack.defaults.path();
  const ExtensionPlatform& platform = stack.platform;
  int polls = 0;
  auto validate = [&] { refreshBadge(platform, [&polls](bool, std::string) { ++polls; }); };
  for (auto _ : state) validate();
  struct stat info {};
  const double statNs =
      meanNanoseconds([&] { benchmark::DoNotOptimize(::stat(file.c_str(), &info)); });
  const double validationNs = meanNanoseconds(validate);
  stack.sessions.waitIdle();
  if (polls != 0) state.SkipWithError("a throttled validation polled");
  state.counters["validation_ns"] = validationNs;
  state.counters["stat_ns"] = statNs;
  state.counters["ratio_to_stat(aim<=2)"] = validationNs / statNs;
}
BENCHMARK(ThrottledValidation);

// Badge text from a body against simdjson's own DOM parse of the same bytes.
void BadgeFromBody(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string text = standin::notificationsPage(count, 1, count);
  platform::Bytes body(text.begin(), text.end());
  body.reserve(body.size() + simdjson::SIMDJSON_PADDING);  // as the session delivers it
  standin::SimdjsonReader json;
  NullOutput out;
  std::string badge;
  const ValidationHandler handler = [&badge](bool, std::string t) { badge = std::move(t); };
  auto ours = [&] {
    handleNotificationsResponse(json, out, handler, body, platform::UrlResponse{200}, std::nullopt);
  };

  for (auto _ : state) ours();
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(text);
  const double simdjsonNs = meanNanoseconds([&] {
    simdjson::dom::element root;
    benchmark::DoNotOptimize(parser.parse(padded).get(root));
  });
  const double oursNs = meanNanoseconds(ours);
  if (badge != std::to_string(count)) state.SkipWithError("wrong badge");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.counters["body_bytes"] = static_cast<double>(text.size());
  state.counters["ours_MB/s"] = static_cast<double>(text.size()) / oursNs * 1e3;
  state.counters["simdjson_MB/s"] = static_cast<double>(text.size()) / simdjsonNs * 1e3;
  state.counters["ratio_to_simdjson(aim<=1.5)"] = oursNs / simdjsonNs;
}
BENCHMARK(BadgeFromBody)->Arg(50)->Arg(1234);

// The stand-in GitHub in this process, and the settings the session needs to reach it.
struct LoopbackGithub {
  std::filesystem::path certs = scratch() / "certs";
  standin::GithubServer server{standin::GithubServerOptions{
      .certificates = standin::ensureCertificates(certs, {"api.github.com", "github.com"}),
      .token = "bench-token",
      .count = 42,
      .keepRequests = false}};  // only the extension's memory counts
  int port = server.start();

  [[nodiscard]] standin::CurlSessionOptions sessionOptions() const {
    standin::CurlSessionOptions options;
    options.userAgent = standin::defaultUserAgent();
    options.connectTo = {"api.github.com:443:127.0.0.1:" + std::to_string(port)};
    options.extraCaFile = (certs / "ca.pem").string();
    return options;
  }
};

int spawnAndWait(const std::vector<std::string>& argv, rusage* usage = nullptr) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage own{};
  ::wait4(pid, &status, 0, usage != nullptr ? usage : &own);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One validation to its badge over HTTPS on loopback, against the curl program fetching the
// same URL with the same headers once.
void ValidationToBadge(benchmark::State& state) {
  LoopbackGithub github;
  Stack stack(github.sessionOptions(), "to-badge");
  for (auto _ : state) {
    if (stack.validate() != "42") state.SkipWithError("wrong badge");
  }
  const double oursNs = meanNanoseconds([&] { stack.validate(); }, std::chrono::milliseconds(500));
  const std::vector<std::string> curl = {
      "curl",
      "-sS",
      "-o",
      "/dev/null",
      "--compressed",
      "--connect-to",
      "api.github.com:443:127.0.0.1:" + std::to_string(github.port),
      "--cacert",
      (github.certs / "ca.pem").string(),
      "-H",
      "Authorization: Bearer bench-token",
      "-A",
      standin::defaultUserAgent(),
      "https://api.github.com/notifications"};
  if (spawnAndWait(curl) != 0) {
    state.SkipWithError("curl could not fetch the page");
    return;
  }
  const auto start = Clock::now();
  constexpr int kCurlRuns = 20;
  for (int i = 0; i < kCurlRuns; ++i) spawnAndWait(curl);
  const double curlNs =
      std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kCurlRuns;
  state.counters["validation_ms"] = oursNs / 1e6;
  state.counters["curl_ms"] = curlNs / 1e6;
  state.counters["ratio_to_curl"] = oursNs / curlNs;
}
BENCHMARK(ValidationToBadge)->Unit(benchmark::kMillisecond)->Iterations(20);

std::size_t entriesIn(const char* folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

double residentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1024.0;
}

// 2,000 polls after a warm-up of 100: threads, descriptors and memory must come back. Then the
// peak resident memory of tidingsbell-safari doing the same.
void ThousandsOfPolls(benchmark::State& state) {
  LoopbackGithub github;
  Stack stack(github.sessionOptions(), "polls");
  for (int i = 0; i < 100; ++i) stack.validate();
  // Sessions end their threads just after their last completion returns.
  auto settle = [&] {
    for (int i = 0; i < 500 && stack.sessions.liveSessions() != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  settle();
  const std::size_t threads = entriesIn("/proc/self/task");
  const std::size_t descriptors = entriesIn("/proc/self/fd");
  const double resident = residentKilobytes();
  int wrong = 0;
  double halfway = 0;
  for (auto _ : state) {
    for (int i = 0; i < 2000; ++i) {
      wrong += stack.validate() == "42" ? 0 : 1;
      if (i == 999) {
        settle();
        halfway = residentKilobytes();
      }
    }
  }
  settle();
  state.counters["wrong_badges"] = wrong;
  state.counters["threads_delta"] =
      static_cast<double>(entriesIn("/proc/self/task")) - static_cast<double>(threads);
  state.counters["fds_delta"] =
      static_cast<double>(entriesIn("/proc/self/fd")) - static_cast<double>(descriptors);
  state.counters["rss_growth_kB(aim<1024)"] = residentKilobytes() - resident;
  // A leak keeps growing; a heap that settles grows in the first half alone.
  state.counters["rss_growth_2nd_half_kB"] = residentKilobytes() - halfway;

  // The program itself, driven the same way.
  const auto commands = scratch() / "safari-commands.txt";
  {
    std::ofstream out(commands);
    for (int i = 0; i < 2100; ++i) out << "advance 61\nvalidate\nwait\n";
  }
  const char* build = std::getenv("TIDINGSBELL_BUILD_DIR");
  const std::string safari =
      std::string(build != nullptr ? build : "build/default") + "/standin/tidingsbell-safari";
  ::setenv("XDG_DATA_HOME", (scratch() / "safari-home").c_str(), 1);
  {
    standin::FileKeychain keychain;
    SettingsStore(keychain).saveToken("bench-token");
  }
  ::setenv("TIDINGSBELL_STANDIN_CONNECT_TO", github.sessionOptions().connectTo[0].c_str(), 1);
  ::setenv("TIDINGSBELL_STANDIN_CA_FILE", (github.certs / "ca.pem").c_str(), 1);
  rusage usage{};
  if (spawnAndWait({"sh", "-c", "exec \"$0\" < \"$1\"", safari, commands.string()}, &usage) == 0) {
    state.counters["safari_peak_rss_kB"] = static_cast<double>(usage.ru_maxrss);
  } else {
    state.counters["safari_peak_rss_kB"] =
        -1;  // the program was not found: set TIDINGSBELL_BUILD_DIR
  }
}
BENCHMARK(ThousandsOfPolls)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace tidingsbell

BENCHMARK_MAIN();
