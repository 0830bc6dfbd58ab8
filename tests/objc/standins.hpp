#pragma once
// Stand-ins for the platform classes the macOS layer names, registered in the same Objective-C
// runtime, and the ledger that lets a test balance every object and block at its end.

#include <objc/runtime.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tidingsbell::objc_test {

// What the platform answers when the layer's calls complete; each test sets what it needs.
struct Script {
  bool tabOpens = true;
  bool coderFails = false;
  std::optional<std::string> pageUrl;
  std::optional<std::string> preferencesError;
  std::string httpBody;
};

// What reached the platform, in order: one line per send worth checking.
struct Platform {
  Script script;
  std::vector<std::string> calls;
  std::vector<std::string> logLines;  // NSLog
  std::mutex mutex;  // guards pending and dispatched, which the dispatched work adds to
  std::vector<std::function<void()>> pending;  // completions the platform has yet to call
  std::vector<std::thread> dispatched;
  // The generic-password items of the settings' service, by account: what SecItem keeps.
  using Keychain = std::map<std::string, std::vector<std::uint8_t>>;
  Keychain keychain;
  long blockCopies = 0;
  long blockReleases = 0;
};
Platform& platform();

// A new object of a stand-in class, owned by the caller (+1), as alloc and init make it: with
// its text (of a string, number or URL; of an array or dictionary, its JSON if it has one) and
// the objects it holds (taking over the caller's references: elements; keys and values
// alternately; a response's action).
id make(const char* className, std::string text = {}, std::vector<id> ownedItems = {});
// An object that is never released, as CFSTR's strings and the frameworks' constants are.
id permanent(const char* className, const char* text);
id permanentString(const char* text);
std::string textOf(id object);
std::vector<id> itemsOf(id object);
bool isBoolean(id object);

// Runs what the platform still owes: completions, then dispatched work, until none is left.
void runPending();
// The balance sheet, once the platform has run what it owes and let go of what it keeps: the
// objects still alive, and the totals counted since the last one (constant strings aside). Then
// the platform starts afresh.
struct BalanceSheet {
  std::vector<std::string> survivors;
  long allocations = 0, retains = 0, releases = 0, deallocations = 0;
  long blockCopies = 0, blockReleases = 0;
};
BalanceSheet settle();

}  // namespace tidingsbell::objc_test
