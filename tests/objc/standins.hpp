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
#include <string_view>
#include <thread>
#include <vector>

namespace tidingsbell::objc_test {

// What the platform answers when the layer's calls complete; each test sets what it needs.
struct Script {
  bool tabOpens = true;
  std::optional<std::string> pageUrl;
  std::optional<std::string> preferencesError;
  long httpStatus = 200;
  std::string httpBody = "[]";
  bool coderFails = false;
};

// What reached the platform, in order: one line per send worth checking.
struct Platform {
  Script script;
  std::vector<std::string> calls;
  std::vector<std::string> logLines;  // NSLog
  std::mutex mutex;  // guards pending and dispatched, which the dispatched work adds to
  std::vector<std::function<void()>> pending;  // completions the platform has yet to call
  std::vector<std::thread> dispatched;
  std::map<std::string, std::vector<std::uint8_t>> keychain;  // account -> data
  long blockCopies = 0;
  long blockReleases = 0;
};
Platform& platform();

// Registers the stand-in classes (once; also run before the layer's own load-time constructors).
void registerStandIns();

// New objects, owned by the caller (+1), as alloc and init would make them.
id make(const char* className);
id makeString(std::string_view text);
id makeNumber(long long value);
id makeBool(bool value);
id makeArray(std::vector<id> ownedItems);
id makeDictionary(std::vector<std::pair<id, id>> ownedEntries);

// Makes `holder` keep `ownedItem` (taking over the caller's reference): a response's action.
void give(id holder, id ownedItem);
// A string that is never released, as CFSTR's and the frameworks' constants are.
id permanentString(const char* text);

std::string textOf(id object);
long long numberOf(id object);
bool isBoolean(id object);

// Runs what the platform still owes: completions, then dispatched work, until none is left.
void runPending();
// The balance sheet of a test, once the platform has let go of what it keeps: the objects still
// alive, and the totals the root class counted (constant strings aside).
struct BalanceSheet {
  std::vector<std::string> survivors;
  long allocations = 0, retains = 0, releases = 0, deallocations = 0;
};
BalanceSheet balanceSheet();
void resetLedger();

}  // namespace tidingsbell::objc_test
