// Speed and memory figures, each beside its yardstick. The two sides of a figure are measured in
// the same run, interleaved, over several rounds; the minimum and the median of each are printed
// with their ratio, so a noisy machine moves both sides alike. Each group of figures is one Google
// Benchmark run once (--benchmark_filter= picks groups); its figures are also its counters, times
// in seconds, so --benchmark_format=json carries them too.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <simdjson.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "extension/PollNotifications.hpp"
#include "extension/RefreshBadge.hpp"
#include "extension/SafariExtensionHandler.hpp"
#include "platform/standin/clock.hpp"
#include "platform/standin/json.hpp"
#include "platform/standin/keychain.hpp"
#include "platform/standin/secret_service_keychain.hpp"
#include "platform/standin/threads.hpp"
#include "platform/standin/url.hpp"
#include "platform/standin/url_session.hpp"
#include "platform/standin/user_defaults.hpp"
#include "shared/SettingsStore.hpp"
#include "standin/github_server.hpp"

extern char** environ;

namespace tidingsbell {
namespace {

namespace fs = std::filesystem;
using Samples = std::vector<double>;

double wallNs() {
  return std::chrono::duration<double, std::nano>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double cpuNs() {  // the whole process: every session thread's work counts
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double minOf(const Samples& s) {
  return *std::min_element(s.begin(), s.end());
}
double medianOf(Samples s) {
  std::nth_element(s.begin(), s.begin() + static_cast<long>(s.size() / 2), s.end());
  return s[s.size() / 2];
}

int missedAims = 0;

// One line: our min and median, the yardstick's, the ratio of the medians and of the minima; the
// same figures as the group's counters, named after `key`.
void report(benchmark::State& state, const std::string& key, const std::string& figure,
            const Samples& ours, const std::string& yardstick, const Samples& yard, double scale,
            const char* unit, double aim = 0) {
  const double ratio = medianOf(ours) / medianOf(yard);
  auto& counters = state.counters;
  counters[key + "ours_min"] = minOf(ours) / 1e9;
  counters[key + "ours_med"] = medianOf(ours) / 1e9;
  counters[key + "yard_min"] = minOf(yard) / 1e9;
  counters[key + "yard_med"] = medianOf(yard) / 1e9;
  counters[key + "ratio"] = ratio;
  std::string verdict;
  if (aim > 0) {
    counters[key + "aim"] = aim;
    counters[key + "aim_met"] = ratio <= aim;
    char text[32];
    std::snprintf(text, sizeof text, " aim<=%.2g %s", aim, ratio <= aim ? "met" : "MISSED");
    verdict = text;
    if (ratio > aim) ++missedAims;
  }
  std::printf("%-36s %9.3f %9.3f %s | %-26s %9.3f %9.3f | ratio %5.2f (min %5.2f)%s\n",
              figure.c_str(), minOf(ours) / scale, medianOf(ours) / scale, unit, yardstick.c_str(),
              minOf(yard) / scale, medianOf(yard) / scale, ratio, minOf(ours) / minOf(yard),
              verdict.c_str());
  std::fflush(stdout);
}

fs::path scratch() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "tidingsbell-bench-XXXXXX").string();
    return fs::path(::mkdtemp(pattern.data()));
  }();
  return folder;
}

// URLs under `base` as GitHub lists them, each after its key: "key{template}", space-separated.
void appendUrls(std::string& text, const std::string& base, const char* urls) {
  std::istringstream words(urls);
  for (std::string url; words >> url;) {
    text += ",\"" + url.substr(0, url.find('{')) + "_url\":\"" + base + "/" + url + "\"";
  }
}

// A notification as GitHub sends it: the whole repository object with its forty-odd URLs.
std::string githubNotification(int index) {
  const std::string owner = index % 2 == 0 ? "octo-org" : "marblequail";
  const std::string name = "repository-" + std::to_string(index % 7);
  const std::string api = "https://api.github.com";
  const std::string repo = api + "/repos/" + owner + "/" + name;
  const std::string user = api + "/users/" + owner;
  const std::string id = std::to_string(2300000000 + index);
  std::string text =
      "{\"id\":\"" + id + "\",\"unread\":" + (index % 3 ? "true" : "false") +
      ",\"reason\":\"subscribed\",\"updated_at\":\"2026-11-30T12:00:00Z\"," +
      "\"last_read_at\":null,\"subject\":{\"title\":\"Refresh the badge number " + id +
      " \\u2014 again\",\"url\":\"" + repo + "/issues/" + id + "\",\"latest_comment_url\":\"" +
      repo + "/issues/comments/" + id +
      "\",\"type\":\"Issue\"},\"repository\":{\"id\":" + std::to_string(1296269 + index) +
      ",\"node_id\":\"MDEwOlJlcG9zaXRvcnkxMjk2MjY5\",\"name\":\"" + name + "\",\"full_name\":\"" +
      owner + "/" + name + "\",\"private\":false," + "\"owner\":{\"login\":\"" + owner +
      "\",\"id\":583231,\"node_id\":\"MDQ6VXNlcjU4MzIzMQ==\",\"avatar_url\":"
      "\"https://avatars.githubusercontent.com/u/583231?v=4\",\"gravatar_id\":\"\","
      "\"url\":\"" +
      user + "\",\"html_url\":\"https://github.com/" + owner + "\"";
  appendUrls(text, user,
             "followers following{/other_user} gists{/gist_id} starred{/owner}{/repo} "
             "subscriptions organizations repos events{/privacy} received_events");
  text += ",\"type\":\"Organization\",\"site_admin\":false},\"html_url\":\"https://github.com/" +
          owner + "/" + name +
          "\",\"description\":\"The badge that tells you what waits.\",\"fork\":false,\"url\":\"" +
          repo + "\"";
  appendUrls(text, repo,
             "forks keys{/key_id} collaborators{/collaborator} teams hooks issue_events{/number} "
             "events assignees{/user} branches{/branch} tags blobs{/sha} git_tags{/sha} "
             "git_refs{/sha} trees{/sha} statuses{/sha} languages stargazers contributors "
             "subscribers subscription commits{/sha} git_commits{/sha} comments{/number} "
             "issue_comment{/number} contents{+path} compare{base}...{head} merges "
             "archive{archive_format}{/ref} downloads issues{/number} pulls{/number} "
             "milestones{/number} notifications{?since,all,participating} labels{/name} "
             "releases{/id} deployments");
  text += "},\"url\":\"" + api + "/notifications/threads/" + id + "\",\"subscription_url\":\"" +
          api + "/notifications/threads/" + id + "/subscription\"}";
  return text;
}

std::string githubBody(int count) {
  std::string body = "[";
  for (int i = 0; i < count; ++i) body += (i ? "," : "") + githubNotification(i);
  return body + "]";
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

// The Secret Service only in the throwaway keyring scripts/bench starts (scripts/with-keyring):
// the bench saves a token, and must never save it in the keyring of whoever runs it.
bool haveThrowawayKeyring() {
  return std::getenv("TIDINGSBELL_TEST_KEYRING") != nullptr;
}

enum class KeychainKind { File, SecretService };

std::unique_ptr<platform::Keychain> makeKeychain(KeychainKind kind, const std::string& name) {
  if (kind == KeychainKind::SecretService)
    return std::make_unique<standin::SecretServiceKeychain>();
  return std::make_unique<standin::FileKeychain>(scratch() / name / "keychain.json");
}

// The extension on the stand-ins, in this process, with its own keychain and defaults files.
struct Stack {
  Stack(standin::CurlSessionOptions sessionOptions, const std::string& name,
        KeychainKind keychainKind = KeychainKind::File)
      : keychain(makeKeychain(keychainKind, name)),
        defaults(scratch() / name / "defaults.json"),
        sessions(std::move(sessionOptions)) {
    const SettingsStore store(*keychain);
    store.saveToken("bench-token");
    store.saveMuteFlag(false);  // both reads of a validation find their item, as once it is set
  }
  std::unique_ptr<platform::Keychain> keychain;
  standin::FileUserDefaults defaults;
  standin::OffsetClock clock;
  standin::CurlUrlParser urls;
  standin::CurlSessionFactory sessions;
  standin::SimdjsonReader json;
  NullOutput out;
  NoWorkspace workspace;
  standin::CreatorThreadIsMain mainThread;
  ExtensionPlatform platform{*keychain, defaults, clock, urls,      sessions,
                             json,      out,      out,   workspace, mainThread};

  // One validation past the throttle through a fresh handler, to its badge.
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

// A child process with its standard input and output on pipes.
struct Child {
  pid_t pid = -1;
  FILE* in = nullptr;
  FILE* out = nullptr;

  explicit Child(const std::vector<std::string>& argv) {
    int down[2], up[2];
    if (::pipe2(down, O_CLOEXEC) != 0 || ::pipe2(up, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, down[0], 0);
    posix_spawn_file_actions_adddup2(&actions, up[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(down[0]);
    ::close(up[1]);
    in = ::fdopen(down[1], "w");
    out = ::fdopen(up[0], "r");
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) std::fclose(out);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
  }

  std::string ask(const std::string& lines, const std::string& until = "") {
    std::fputs(lines.c_str(), in);
    std::fflush(in);
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
      if (until.empty() || std::string(line).starts_with(until)) return line;
    }
    return {};
  }

  // A field of /proc/PID/status in kB ("VmHWM", "VmRSS") or a count ("Threads").
  [[nodiscard]] double status(const std::string& field) const {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string name;
    double value = -1;
    while (file >> name) {
      if (name == field + ":") {
        file >> value;
        break;
      }
      file.ignore(1 << 10, '\n');
    }
    return value;
  }
  [[nodiscard]] double descriptors() const {
    const auto folder = "/proc/" + std::to_string(pid) + "/fd";
    return static_cast<double>(std::distance(fs::directory_iterator(folder), {}));
  }
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The libcurl yardstick: the same request, then simdjson's DOM count of the body.
struct CurlPoll {
  std::string caFile;
  int port;
  curl_slist* headers = curl_slist_append(nullptr, "Authorization: Bearer bench-token");
  curl_slist* connectTo = nullptr;
  simdjson::dom::parser parser;
  std::string body;

  CurlPoll(std::string ca, int serverPort) : caFile(std::move(ca)), port(serverPort) {
    const auto entry = "api.github.com:443:127.0.0.1:" + std::to_string(port);
    connectTo = curl_slist_append(nullptr, entry.c_str());
  }
  CurlPoll(const CurlPoll&) = delete;
  CurlPoll& operator=(const CurlPoll&) = delete;
  ~CurlPoll() {
    curl_easy_cleanup(keptHandle);
    curl_slist_free_all(headers);
    curl_slist_free_all(connectTo);
  }

  void configure(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_URL, "https://api.github.com/notifications");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "libcurl-yardstick");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);  // lets libcurl keep its CA cache
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  }

  std::size_t perform(CURL* curl) {
    body.clear();
    if (curl_easy_perform(curl) != CURLE_OK) return 0;
    simdjson::dom::array array;
    if (parser.parse(body).get_array().get(array) != simdjson::SUCCESS) return 0;
    return array.size();
  }

  std::size_t fresh() {
    CURL* curl = curl_easy_init();
    configure(curl);
    const std::size_t count = perform(curl);
    curl_easy_cleanup(curl);
    return count;
  }

  // One handle kept, a new connection each poll and no TLS session resumption: every poll
  // makes the full handshake, as a new session of ours does.
  std::size_t kept() {
    if (keptHandle == nullptr) {
      keptHandle = curl_easy_init();
      configure(keptHandle);
      curl_easy_setopt(keptHandle, CURLOPT_FRESH_CONNECT, 1L);
      curl_easy_setopt(keptHandle, CURLOPT_FORBID_REUSE, 1L);
      curl_easy_setopt(keptHandle, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    return perform(keptHandle);
  }
  CURL* keptHandle = nullptr;
};

// The stand-in GitHub in a process of its own, so that its work is not counted as ours. Call it
// before this process starts any thread.
struct ServerProcess {
  pid_t pid = -1;
  int port = -1;

  ServerProcess(const standin::CertificatePaths& certificates, const std::string& body) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      standin::GithubServer server{standin::GithubServerOptions{
          .certificates = certificates, .status = 200, .body = body, .keepRequests = false}};
      const int bound = server.start();
      (void)!::write(ready[1], &bound, sizeof bound);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    (void)!::read(ready[0], &port, sizeof port);
    ::close(ready[0]);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// A throttled validation: one defaults read (a stat() while the file is unchanged), one calendar
// step, one comparison. Yardstick: one stat() of the same file.
void throttledValidation(benchmark::State& state) {
  Stack stack(standin::CurlSessionOptions{}, "throttle");
  stack.defaults.setObject(stack.clock.now(), kLastCheckKey);
  const ExtensionPlatform& platform = stack.platform;
  // A validation that got past the throttle would have written a new "last-check".
  const auto lastCheck = stack.defaults.objectForKey(kLastCheckKey);
  const char* file = stack.defaults.path().c_str();
  constexpr int kCalls = 5000;
  Samples ours, yard;
  for (int round = 0; round < 21; ++round) {
    double start = wallNs();
    for (int i = 0; i < kCalls; ++i) refreshBadge(platform, {});
    ours.push_back((wallNs() - start) / kCalls);
    struct stat info {};
    start = wallNs();
    for (int i = 0; i < kCalls; ++i) ::stat(file, &info);
    yard.push_back((wallNs() - start) / kCalls);
  }
  if (stack.defaults.objectForKey(kLastCheckKey) != lastCheck) {
    std::printf("a throttled validation polled\n");
  }
  report(state, "", "throttled validation", ours, "one stat()", yard, 1e3, "us", 1.2);
}

// The count of a body on a thread that has never parsed before, the worst a poll's completion
// meets, against simdjson's own DOM parse and count of the same bytes with a parser kept warm. The
// body is made once, padded as the session delivers it; nothing is copied inside the timed calls.
void countFromBody(benchmark::State& state, int notifications) {
  const std::string text = githubBody(notifications);
  std::optional<platform::Bytes> body(std::in_place, text.begin(), text.end());
  body->reserve(body->size() + simdjson::SIMDJSON_PADDING);
  const simdjson::padded_string padded(text);
  standin::SimdjsonReader json;
  NullOutput out;
  std::string badge;
  const ValidationHandler handler = [&badge](bool, std::string t) { badge = std::move(t); };
  const std::optional<platform::UrlResponse> response = platform::UrlResponse{200};
  simdjson::dom::parser parser;
  std::size_t domCount = 0;
  auto onFreshThread = [](const std::function<void()>& work) {
    double elapsed = 0;
    std::thread([&] {
      const double start = wallNs();
      work();
      elapsed = wallNs() - start;
    }).join();
    return elapsed;
  };
  Samples ours, yard;
  for (int round = 0; round < 41; ++round) {
    ours.push_back(onFreshThread(
        [&] { handleNotificationsResponse(json, out, handler, body, response, std::nullopt); }));
    yard.push_back(onFreshThread([&] {
      simdjson::dom::array array;
      if (parser.parse(padded).get_array().get(array) == simdjson::SUCCESS) {
        domCount = array.size();
      }
    }));
  }
  if (badge != std::to_string(notifications) || domCount != std::size_t(notifications)) {
    std::printf("wrong count\n");
  }
  report(state, "",
         "count, " + std::to_string(notifications) + " notifications (" +
             std::to_string(text.size() / 1024) + " kB)",
         ours, "simdjson DOM parse", yard, 1e3, "us", 1.1);
}

// The two keychain reads of a validation that gets past the throttle (the token, then the mute
// flag) through the desktop's Secret Service, against the same two through the file keychain.
// Measured, not aimed: what choosing the desktop's keyring costs each poll.
void keychainReads(benchmark::State& state) {
  if (!haveThrowawayKeyring()) {
    std::printf("%-36s skipped: no throwaway keyring (scripts/bench starts one)\n",
                "keychain reads, Secret Service");
    return;
  }
  const auto secretService = makeKeychain(KeychainKind::SecretService, "reads-secret-service");
  const auto file = makeKeychain(KeychainKind::File, "reads-file");
  const SettingsStore viaService(*secretService), viaFile(*file);
  for (const SettingsStore* store : {&viaService, &viaFile}) {
    store->saveToken("bench-token");
    store->saveMuteFlag(false);
  }
  constexpr int kCalls = 50;
  int wrong = 0;
  auto twoReads = [&](const SettingsStore& store) {
    const double start = wallNs();
    for (int i = 0; i < kCalls; ++i) {
      wrong += store.readToken() == "bench-token" && store.readMuteFlag() == false ? 0 : 1;
    }
    return (wallNs() - start) / kCalls;
  };
  Samples ours, yard;
  twoReads(viaService);  // warm-up: the session and the caches at their steady state
  twoReads(viaFile);
  for (int round = 0; round < 21; ++round) {
    ours.push_back(twoReads(viaService));
    yard.push_back(twoReads(viaFile));
  }
  if (wrong != 0) std::printf("%d reads gave the wrong value\n", wrong);
  report(state, "", "two keychain reads, Secret Service", ours, "file keychain", yard, 1e3, "us");
}

// Polls over HTTPS on loopback, a new connection each, interleaved poll by poll with the
// yardsticks doing the same poll.
void polls(benchmark::State& state, const std::string& label, const fs::path& caFile, int port,
           KeychainKind keychainKind = KeychainKind::File) {
  if (keychainKind == KeychainKind::SecretService && !haveThrowawayKeyring()) {
    std::printf("%-36s skipped: no throwaway keyring (scripts/bench starts one)\n",
                ("poll, " + label).c_str());
    return;
  }
  standin::CurlSessionOptions options;
  options.connectTo = {"api.github.com:443:127.0.0.1:" + std::to_string(port)};
  options.extraCaFile = caFile.string();
  static int stacks = 0;
  Stack stack(options, "poll-" + std::to_string(++stacks), keychainKind);
  CurlPoll curl(caFile.string(), port);
  const bool haveNode = std::system("node --version >/dev/null 2>&1") == 0;
  std::unique_ptr<Child> node;
  if (haveNode) {
    node = std::make_unique<Child>(
        std::vector<std::string>{"node", TIDINGSBELL_BENCH_DIR "/poll.mjs", std::to_string(port),
                                 caFile.string(), "bench-token"});
  }
  struct Side {
    Samples wall, cpu;
  } ours, nodeSide, fresh, kept;
  int wrong = 0;
  auto measure = [&](Side& side, const std::function<bool()>& poll) {
    const double wall = wallNs(), cpu = cpuNs();
    wrong += poll() ? 0 : 1;
    side.cpu.push_back(cpuNs() - cpu);
    side.wall.push_back(wallNs() - wall);
  };
  auto nodePoll = [&](bool keep) {
    double wall = 0, cpu = 0, count = 0;
    std::sscanf(node->ask("\n").c_str(), "%lf %lf %lf", &wall, &cpu, &count);
    if (keep) {
      nodeSide.wall.push_back(wall);
      nodeSide.cpu.push_back(cpu);
    }
    wrong += count == 50 ? 0 : 1;
  };
  for (int i = 0; i < 5; ++i) {  // warm-up: every process and cache at its steady state
    stack.validate();
    curl.fresh();
    curl.kept();
    if (node) nodePoll(false);
  }
  wrong = 0;
  for (int round = 0; round < 8; ++round) {
    for (int i = 0; i < 6; ++i) {
      measure(ours, [&] { return stack.validate() == "50"; });
      if (node) nodePoll(true);
      measure(fresh, [&] { return curl.fresh() == 50; });
      measure(kept, [&] { return curl.kept() == 50; });
    }
  }
  if (wrong != 0) std::printf("%d polls gave a wrong count\n", wrong);
  const std::string poll = "poll, " + label;
  // The aims hold for the file keychain; through the Secret Service the figures are measured only.
  auto aim = [keychainKind](double ratio) {
    return keychainKind == KeychainKind::File ? ratio : 0;
  };
  if (node) {
    report(state, "node_wall_", poll + ", wall", ours.wall, "Node.js", nodeSide.wall, 1e6, "ms",
           aim(0.5));
    report(state, "node_cpu_", poll + ", CPU", ours.cpu, "Node.js", nodeSide.cpu, 1e6, "ms",
           aim(0.5));
    state.counters["node_VmHWM_kB"] = node->status("VmHWM");
    std::printf("%-36s %9.0f kB peak RSS (VmHWM) of the Node.js poller\n", "",
                state.counters["node_VmHWM_kB"].value);
  } else {
    std::printf("%-36s skipped: node is not installed\n", (poll + " vs Node.js").c_str());
  }
  report(state, "kept_cpu_", poll + ", CPU", ours.cpu, "libcurl, kept handle", kept.cpu, 1e6, "ms",
         aim(1.5));
  report(state, "kept_wall_", poll + ", wall", ours.wall, "libcurl, kept handle", kept.wall, 1e6,
         "ms");
  report(state, "fresh_cpu_", poll + ", CPU", ours.cpu, "libcurl, fresh handle", fresh.cpu, 1e6,
         "ms");
  report(state, "fresh_wall_", poll + ", wall", ours.wall, "libcurl, fresh handle", fresh.wall, 1e6,
         "ms");
}

// tidingsbell-safari itself over 2,000 polls after 100 to warm up: its threads, descriptors and
// resident memory must come back, and its peak resident memory is read from its own /proc entry.
void safariOverThousandsOfPolls(benchmark::State& state, const fs::path& caFile, int port) {
  ::setenv("XDG_DATA_HOME", (scratch() / "safari-home").c_str(), 1);
  ::setenv("TIDINGSBELL_STANDIN_KEYCHAIN", "file", 1);
  {
    standin::FileKeychain keychain;
    SettingsStore(keychain).saveToken("bench-token");
  }
  const std::string connectTo = "api.github.com:443:127.0.0.1:" + std::to_string(port);
  ::setenv("TIDINGSBELL_STANDIN_CONNECT_TO", connectTo.c_str(), 1);
  ::setenv("TIDINGSBELL_STANDIN_CA_FILE", caFile.c_str(), 1);
  Child safari({TIDINGSBELL_SAFARI});
  int wrong = 0;
  auto pollOnce = [&] {
    std::fputs("advance 61\nvalidate\n", safari.in);
    wrong += safari.ask("", "badge ") == "badge enabled=true text=\"50\"\n" ? 0 : 1;
    safari.ask("wait\n", "idle");
  };
  // Threads, descriptors and resident kB, once the last session's queue has ended.
  auto sample = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return std::vector<double>{safari.status("Threads"), safari.descriptors(),
                               safari.status("VmRSS")};
  };
  for (int i = 0; i < 100; ++i) pollOnce();
  const auto start = sample();
  std::vector<double> halfway;
  for (int i = 0; i < 2000; ++i) {
    pollOnce();
    if (i == 999) halfway = sample();
  }
  const auto end = sample();
  // A leak keeps growing; a pool or a heap that settles grows in the first half alone.
  std::printf("tidingsbell-safari over 2,000 polls: %d wrong badges; growth (second half):", wrong);
  state.counters["wrong_badges"] = wrong;
  const char* const names[] = {"threads", "descriptors", "resident kB"};
  const char* const keys[] = {"threads_growth", "fds_growth", "rss_kB_growth"};
  for (std::size_t i = 0; i < 3; ++i) {
    std::printf(" %s %+g (%+g)", names[i], end[i] - start[i], end[i] - halfway[i]);
    state.counters[keys[i]] = end[i] - start[i];
    state.counters[std::string(keys[i]) + "_2nd_half"] = end[i] - halfway[i];
  }
  state.counters["VmHWM_kB"] = safari.status("VmHWM");
  std::printf("\ntidingsbell-safari peak RSS (VmHWM): %g kB\n", state.counters["VmHWM_kB"].value);
  safari.ask("quit\n");
}

// Made once, by the first group that polls, so that a filtered run pays only for what it runs.
struct Shared {
  standin::CertificatePaths certificates =
      standin::ensureCertificates(scratch() / "certs", {"api.github.com", "github.com"});
  // A trust store the size of the system's, with the stand-in's authority in it.
  fs::path bundle = [this] {
    const fs::path path = scratch() / "certs" / "bundle.pem";
    std::ofstream(path) << std::ifstream("/etc/ssl/certs/ca-certificates.crt").rdbuf()
                        << std::ifstream(certificates.caCertificate).rdbuf();
    return path;
  }();
  ServerProcess server{certificates, githubBody(50)};
};

const Shared& shared() {
  static const Shared made;
  if (made.server.port <= 0) {
    std::fprintf(stderr, "the stand-in GitHub did not start\n");
    std::exit(1);
  }
  return made;
}

}  // namespace
}  // namespace tidingsbell

int main(int argc, char** argv) {
  using namespace tidingsbell;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  // Each group runs its interleaved rounds once; its own time is only how long that took.
  auto group = [](const char* name, auto body) {
    benchmark::RegisterBenchmark(name,
                                 [body](benchmark::State& state) {
                                   for (auto _ : state) body(state);
                                 })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  };
  group("throttled_validation", throttledValidation);
  group("count/50", [](benchmark::State& s) { countFromBody(s, 50); });
  group("count/1234", [](benchmark::State& s) { countFromBody(s, 1234); });
  group("poll/standin_ca", [](benchmark::State& s) {
    polls(s, "stand-in's CA", shared().certificates.caCertificate, shared().server.port);
  });
  group("poll/system_bundle", [](benchmark::State& s) {
    polls(s, "system-sized CA bundle", shared().bundle, shared().server.port);
  });
  group("keychain_reads", keychainReads);
  group("poll/standin_ca/secret_service", [](benchmark::State& s) {
    polls(s, "Secret Service keychain", shared().certificates.caCertificate, shared().server.port,
          KeychainKind::SecretService);
  });
  group("safari_2000_polls", [](benchmark::State& s) {
    safariOverThousandsOfPolls(s, shared().certificates.caCertificate, shared().server.port);
  });
  std::printf("%-36s %9s %9s    | %-26s %9s %9s |\n", "figure", "min", "median", "yardstick", "min",
              "median");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("%d aims missed\n", missedAims);
  std::error_code ignored;
  fs::remove_all(scratch(), ignored);
  return 0;
}
