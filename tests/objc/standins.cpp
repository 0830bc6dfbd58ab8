// The stand-in platform classes. Each answers only selectors that Apple's headers declare, with
// the declared types (scripts/check-encodings compares each type string below with the SDK's
// headers for x86-64, where this harness runs); any other message ends the process with the
// message a Mac would print. Every object lives in a ledger that counts its references and keeps
// it, once deallocated, as a zombie that ends the process on its next message.

#include "tests/objc/standins.hpp"

#include <objc/hooks.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <sstream>
#include <unordered_map>

#include "platform/apple/objc.hpp"

extern "C" BOOL objc_delete_weak_refs(id object);

namespace tidingsbell::objc_test {
namespace {

using apple::NSInteger;
using apple::NSUInteger;
using apple::send;

struct Record {
  std::string className;
  std::string text;       // strings, numbers, dates, data, URLs, requests, states, errors
  std::vector<id> items;  // held: elements, keys and values alternately, or related objects
  void* block = nullptr;  // a task's completion
  long references = 1;
  bool alive = true;
  bool permanent = false;  // a constant: never released, outside the balance sheet
};

// Made on first use, by other files' initializers too, and never destroyed: zombies and constant
// strings stay reachable to the end.
struct Ledger {
  std::recursive_mutex mutex;
  std::unordered_map<id, Record> records;
  std::vector<id> shared;  // what the platform keeps for the process
  BalanceSheet totals;
};
Ledger& ledger() {
  static auto& instance = *new Ledger;
  return instance;
}
Record& record(id object) {
  const std::lock_guard lock(ledger().mutex);
  return ledger().records.at(object);
}

id create(Class type) {
  id object = class_createInstance(type, 0);
  const std::lock_guard lock(ledger().mutex);
  ledger().records[object].className = class_getName(type);
  ++ledger().totals.allocations;
  return object;
}
// What the frameworks' convenience constructors return: autoreleased.
id fresh(const char* className, std::string text = {}) {
  return objc_autorelease(make(className, std::move(text)));
}
// What a class method returns: the process's one instance, kept by the platform; a new one.
id sharedInstance(Class self, SEL) {
  const std::lock_guard lock(ledger().mutex);
  for (id object : ledger().shared) {
    if (object_getClass(object) == self) return object;
  }
  return ledger().shared.emplace_back(create(self));
}
id autoreleasedInstance(Class self, SEL) {
  return objc_autorelease(create(self));
}
void later(std::function<void()> work) {
  const std::lock_guard lock(platform().mutex);
  platform().pending.push_back(std::move(work));
}

// How a send's argument reads in the record of calls.
template <typename T>
std::string show(T value) {
  if constexpr (std::is_same_v<T, id>) {
    if (value == nullptr) return "nil";
    const Record& entry = record(value);
    return entry.text.empty() && entry.className != "NSString" ? "<" + entry.className + ">"
                                                               : entry.text;
  } else {
    return std::to_string(static_cast<long long>(value));
  }
}
// Records a send that reached the platform: the receiver's class, the selector, the arguments.
template <typename... Args>
id note(id self, SEL selector, Args... args) {
  std::string call = std::string(object_getClassName(self)) + " " + sel_getName(selector);
  ((call += " " + show(args)), ...);
  const std::lock_guard lock(platform().mutex);
  platform().calls.push_back(std::move(call));
  return self;
}

template <typename T>
void noteAndKeep(id self, SEL selector, T value) {
  note(self, selector, value);
  record(self).text = show(value);
}

// What the runtime calls for a selector no class answers: on a Mac, an uncaught exception.
IMP unrecognised(id receiver, SEL selector) {
  const bool zombie = object_getClass(receiver) == objc_getClass("TidingsbellZombie");
  const bool toClass = class_isMetaClass(object_getClass(receiver));
  std::fprintf(stderr, "%c[%s %s]: %s %p\n", toClass ? '+' : '-',
               zombie ? record(receiver).className.c_str() : object_getClassName(receiver),
               sel_getName(selector),
               zombie    ? "message sent to deallocated instance"
               : toClass ? "unrecognized selector sent to class"
                         : "unrecognized selector sent to instance",
               static_cast<void*>(receiver));
  std::abort();
}

// A weak reference yields its object only while the ledger has it alive.
id weakLoad(id object) {
  const std::lock_guard lock(ledger().mutex);
  auto found = ledger().records.find(object);
  return found != ledger().records.end() && found->second.alive ? object : nullptr;
}

id rootRetain(id self, SEL) {
  const std::lock_guard lock(ledger().mutex);
  if (record(self).permanent) return self;
  ++record(self).references;
  ++ledger().totals.retains;
  return self;
}
void rootRelease(id self, SEL) {
  {
    const std::lock_guard lock(ledger().mutex);
    if (record(self).permanent) return;
    ++ledger().totals.releases;
    if (--record(self).references > 0) return;
  }
  objc_delete_weak_refs(self);
  send<void>(self, "dealloc");
}
void rootDealloc(id self, SEL) {
  std::vector<id> items;
  {
    const std::lock_guard lock(ledger().mutex);
    record(self).alive = false;
    ++ledger().totals.deallocations;
    items.swap(record(self).items);
  }
  for (id item : items) send<void>(item, "release");
  object_setClass(self, objc_getClass("TidingsbellZombie"));
}
BOOL rootIsKindOfClass(id self, SEL, Class target) {
  Class type = object_getClass(self);
  while (type != nullptr && type != target) type = class_getSuperclass(type);
  return type != nullptr ? YES : NO;
}

id stringInit(id self, SEL selector, const char* bytes, NSUInteger length, NSUInteger encoding) {
  if (encoding != apple::kNSUTF8StringEncoding) note(self, selector, encoding);
  record(self).text.assign(bytes, length);
  return self;
}
// Keys and values alternately; the newest value for a key wins (user defaults keep the older;
// a mutable dictionary replaces it).
id dictionaryGet(id self, SEL, id key) {
  const auto& items = record(self).items;
  for (std::size_t i = items.size(); i >= 2; i -= 2) {
    if (textOf(items[i - 2]) == textOf(key)) return items[i - 1];
  }
  return nullptr;
}
void dictionarySet(id self, SEL, id value, id key) {
  auto& items = record(self).items;
  for (std::size_t i = 0; i < items.size(); i += 2) {
    if (textOf(items[i]) == textOf(key)) {
      send<void>(std::exchange(items[i + 1], send(value, "retain")), "release");
      return;
    }
  }
  items.insert(items.end(), {send(key, "retain"), send(value, "retain")});
}
id dictionaryKeys(id self, SEL) {
  std::vector<id> keys;
  const auto& items = record(self).items;
  for (std::size_t i = 0; i < items.size(); i += 2) keys.push_back(send(items[i], "retain"));
  return objc_autorelease(make("NSArray", "", std::move(keys)));
}
id calendarAdd(id self, SEL selector, NSUInteger unit, NSInteger value, id date,
               NSUInteger options) {
  note(self, selector, unit, value, date, options);
  constexpr NSUInteger kMinute = 1UL << 6;
  const double seconds = std::stod(textOf(date)) + 60.0 * static_cast<double>(value);
  return unit == kMinute ? fresh("NSDate", std::to_string(seconds)) : nullptr;
}
id textCopy(id self, SEL) {
  return fresh("NSString", textOf(self));
}
id firstItem(id self, SEL) {
  return record(self).items.at(0);
}

// NSJSONSerialization's answers for the texts the tests send: the class of the top-level object
// and of what it holds. Parsing itself is the reader seam's, tested with the Linux stand-in.
id jsonRead(Class, SEL, id data, NSUInteger, id* error) {
  static const std::map<std::string, std::vector<const char*>> answers = {
      {"[{},{}]", {"NSArray", "NSDictionary", "NSDictionary"}},
      {"[{},1]", {"NSArray", "NSDictionary", "NSNumber"}},
      {R"({"a":1,"b":2})", {"NSDictionary", "NSString", "NSNumber", "NSString", "NSNumber"}}};
  const auto found = answers.find(textOf(data));
  if (found == answers.end()) {
    if (error != nullptr) *error = fresh("NSError", "not JSON");
    return nullptr;
  }
  std::vector<id> items;
  for (const char* name : std::span(found->second).subspan(1)) items.push_back(make(name));
  return objc_autorelease(make(found->second.front(), "", std::move(items)));
}
// NSJSONSerialization.h allows only some collections to be written: here those a test made with
// their JSON text. Writing any other raises an exception no caller catches, ending the process.
id jsonWrite(Class, SEL, id object, NSUInteger, id*) {
  if (!textOf(object).empty()) return fresh("NSData", textOf(object));
  std::fprintf(stderr, "+[NSJSONSerialization dataWithJSONObject:options:error:]: Invalid type\n");
  std::abort();
}

// Notes the send, keeps the completion, and later calls it with what `answer` makes, then lets
// go of both.
template <id (*answer)(), typename... Args>
void answerLater(id self, SEL selector, Args... args, void (^completion)(id)) {
  note(self, selector, args...);
  later([block = Block_copy(completion)] {
    const apple::Owned object(answer());
    if (block != nullptr) block(object.get());
    Block_release(block);
  });
}
id tab() {
  return platform().script.tabOpens ? make("SFSafariTab") : nullptr;
}
id pageProperties() {
  const auto url = platform().script.pageUrl;
  return url ? make("SFSafariPageProperties", "", {make("NSURL", *url)}) : nullptr;
}
id preferencesError() {
  const auto text = platform().script.preferencesError;
  return text ? make("NSError", *text) : nullptr;
}
BOOL openUrls(id self, SEL selector, id urls, id bundle, NSUInteger options, id descriptor,
              id* identifiers) {
  for (id url : record(urls).items) record(urls).text += textOf(url) + ",";
  note(self, selector, urls, bundle, options, descriptor, identifiers != nullptr);
  return YES;
}
id controllerInitCoder(id self, SEL selector, id coder) {
  note(self, selector, coder);
  if (!platform().script.coderFails) return self;
  send<void>(self, "release");
  return nullptr;
}

// A session is the system's until it is invalidated and its running tasks have finished.
id sessionWith(Class, SEL, id configuration) {
  id session = fresh("NSURLSession");
  record(session).items.push_back(send(configuration, "retain"));
  return send(session, "retain");
}
void sessionInvalidate(id self, SEL selector) {
  note(self, selector);
  later([self] { send<void>(self, "release"); });  // after the completions queued before
}
using TaskCompletion = void (^)(id, id, id);
id sessionTask(id self, SEL selector, id request, TaskCompletion completion) {
  note(self, selector, request);
  id task = fresh("NSURLSessionDataTask");
  record(task).block = reinterpret_cast<void*>(Block_copy(completion));
  return task;
}
void taskResume(id self, SEL selector) {
  note(self, selector);
  later([self = send(self, "retain")] {  // a running task is the session's
    auto completion = reinterpret_cast<TaskCompletion>(record(self).block);
    const apple::Owned data(make("NSData", platform().script.httpBody));
    const apple::Owned response(make("NSHTTPURLResponse"));
    completion(data.get(), response.get(), nullptr);
    Block_release(completion);
    send<void>(self, "release");
  });
}

// Each class after its superclass (- for none); TidingsbellZombie is what a deallocated object
// becomes.
constexpr const char* kHierarchy =
    "NSObject:- TidingsbellZombie:- NSString:NSObject __NSCFConstantString:NSString "
    "NSData:NSObject NSNumber:NSObject __NSCFBoolean:NSNumber NSNull:NSObject NSArray:NSObject "
    "NSMutableArray:NSArray NSDictionary:NSObject NSMutableDictionary:NSDictionary NSDate:NSObject "
    "NSCalendar:NSObject "
    "NSUserDefaults:NSObject NSURL:NSObject NSJSONSerialization:NSObject NSError:NSObject "
    "NSCoder:NSObject SFSafariExtensionHandler:NSObject SFSafariWindow:NSObject "
    "SFSafariTab:NSObject SFSafariPage:NSObject SFSafariPageProperties:NSObject "
    "SFSafariApplication:NSObject UNUserNotificationCenter:NSObject UNNotification:NSObject "
    "UNNotificationResponse:NSObject NSWorkspace:NSObject NSResponder:NSObject "
    "NSViewController:NSResponder SFSafariExtensionViewController:NSViewController "
    "NSView:NSResponder NSControl:NSView NSTextField:NSControl NSButton:NSControl "
    "NSURLSessionConfiguration:NSObject NSURLSession:NSObject NSURLSessionTask:NSObject "
    "NSURLSessionDataTask:NSURLSessionTask NSURLRequest:NSObject "
    "NSMutableURLRequest:NSURLRequest NSURLResponse:NSObject NSHTTPURLResponse:NSURLResponse";

struct Method {
  const char* name;  // as Apple writes it: -[Class selector], +[Class selector]
  const char* types;
  IMP implementation;
  template <typename Function>  // a function, or a lambda that captures nothing
  Method(const char* name, const char* types, Function function)
      : name(name), types(types), implementation(reinterpret_cast<IMP>(+function)) {}
};
// Made on first use: registration runs before this file's initializers.
const std::vector<Method>& methods() {
  static const std::vector<Method> table = {
      // objc/NSObject.h
      {"+[NSObject alloc]", "@@:", [](Class self, SEL) { return create(self); }},
      {"-[NSObject init]", "@@:", [](id self, SEL) { return self; }},
      {"-[NSObject retain]", "@@:", &rootRetain},
      {"-[NSObject release]", "Vv@:", &rootRelease},
      {"-[NSObject dealloc]", "v@:", &rootDealloc},
      {"-[NSObject isKindOfClass:]", "c@:#", &rootIsKindOfClass},
      {"-[NSObject description]",
       "@@:", [](id self, SEL) { return fresh("NSString", show(self)); }},
      // Foundation: NSString.h, NSData.h, NSValue.h, NSArray.h, NSDictionary.h
      {"-[NSString initWithBytes:length:encoding:]", "@@:r^vQQ", &stringInit},
      {"-[NSString dataUsingEncoding:]", "@@:Q",
       [](id self, SEL, NSUInteger) { return fresh("NSData", textOf(self)); }},
      {"-[NSString isEqualToString:]", "c@:@",
       [](id self, SEL, id other) { return BOOL(textOf(self) == textOf(other)); }},
      {"-[NSString description]", "@@:", [](id self, SEL) { return self; }},
      {"-[NSData bytes]", "r^v@:", [](id self, SEL) { return record(self).text.data(); }},
      {"-[NSData length]", "Q@:", [](id self, SEL) { return record(self).text.size(); }},
      {"+[NSData dataWithBytesNoCopy:length:freeWhenDone:]", "@@:^vQc",
       [](Class, SEL, const char* bytes, NSUInteger length, BOOL) {
         return fresh("NSData", {bytes, length});
       }},
      {"-[NSNumber longLongValue]",
       "q@:", [](id self, SEL) { return std::atoll(textOf(self).c_str()); }},
      {"-[NSNumber boolValue]", "c@:", [](id self, SEL) { return BOOL(textOf(self) != "0"); }},
      {"-[NSNumber stringValue]", "@@:", &textCopy},
      {"-[NSArray count]", "Q@:", [](id self, SEL) { return record(self).items.size(); }},
      {"-[NSArray objectAtIndex:]", "@@:Q",
       [](id self, SEL, NSUInteger at) { return record(self).items.at(at); }},
      {"+[NSArray array]", "@@:", &autoreleasedInstance},
      {"-[NSMutableArray addObject:]", "v@:@",
       [](id self, SEL, id item) { record(self).items.push_back(send(item, "retain")); }},
      {"-[NSDictionary count]", "Q@:", [](id self, SEL) { return record(self).items.size() / 2; }},
      {"-[NSDictionary objectForKey:]", "@@:@", &dictionaryGet},
      {"-[NSDictionary allKeys]", "@@:", &dictionaryKeys},
      {"-[NSMutableDictionary setObject:forKey:]", "v@:@@", &dictionarySet},
      // NSDate.h, NSCalendar.h, NSUserDefaults.h, NSURL.h, NSJSONSerialization.h, NSError.h
      {"-[NSDate timeIntervalSince1970]",
       "d@:", [](id self, SEL) { return std::stod(textOf(self)); }},
      {"+[NSDate date]", "@@:", [](Class, SEL) { return fresh("NSDate", "1800000000"); }},
      {"+[NSDate dateWithTimeIntervalSince1970:]", "@@:d",
       [](Class, SEL, double at) { return fresh("NSDate", std::to_string(at)); }},
      {"-[NSCalendar dateByAddingUnit:value:toDate:options:]", "@@:Qq@Q", &calendarAdd},
      {"+[NSCalendar currentCalendar]", "@@:", &sharedInstance},
      {"-[NSUserDefaults objectForKey:]", "@@:@", &dictionaryGet},
      {"-[NSUserDefaults setObject:forKey:]", "v@:@@",
       [](id self, SEL, id value, id key) {
         record(self).items.insert(record(self).items.end(),
                                   {make("NSString", textOf(key)), send(value, "retain")});
       }},
      {"+[NSUserDefaults standardUserDefaults]", "@@:", &sharedInstance},
      {"-[NSURL absoluteString]", "@@:", &textCopy},
      {"+[NSURL URLWithString:]", "@@:@",
       [](Class, SEL, id text) {
         return textOf(text).empty() ? nullptr : fresh("NSURL", textOf(text));
       }},
      {"+[NSJSONSerialization JSONObjectWithData:options:error:]", "@@:@Q^@", &jsonRead},
      {"+[NSJSONSerialization dataWithJSONObject:options:error:]", "@@:@Q^@", &jsonWrite},
      {"+[NSJSONSerialization isValidJSONObject:]", "c@:@",
       [](Class, SEL, id object) { return BOOL(!textOf(object).empty()); }},
      {"-[NSError localizedDescription]", "@@:", &textCopy},
      // developer.apple.com/documentation/safariservices: SFSafariWindow, SFSafariPage,
      // SFSafariPageProperties, SFSafariApplication
      {"-[SFSafariWindow openTabWithURL:makeActiveIfPossible:completionHandler:]", "v@:@c@?",
       &answerLater<&tab, id, BOOL>},
      {"-[SFSafariPage getPagePropertiesWithCompletionHandler:]", "v@:@?",
       &answerLater<&pageProperties>},
      {"-[SFSafariPageProperties url]", "@@:", &firstItem},
      {"+[SFSafariApplication showPreferencesForExtensionWithIdentifier:completionHandler:]",
       "v@:@@?", &answerLater<&preferencesError, id>},
      // developer.apple.com/documentation/usernotifications/unnotificationresponse
      {"-[UNNotificationResponse actionIdentifier]", "@@:", &firstItem},
      // AppKit: NSWorkspace.h, NSResponder.h, NSViewController.h, NSControl.h, NSButton.h
      {"-[NSWorkspace "
       "openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:launchIdentifiers:"
       "]",
       "c@:@@Q@^@", &openUrls},
      {"+[NSWorkspace sharedWorkspace]", "@@:", &sharedInstance},
      {"-[NSResponder becomeFirstResponder]", "c@:",
       [](id self, SEL selector) {
         note(self, selector);
         return YES;
       }},
      {"-[NSViewController initWithNibName:bundle:]", "@@:@@", &note<id, id>},
      {"-[NSViewController initWithCoder:]", "@@:@", &controllerInitCoder},
      {"-[NSViewController viewDidLoad]", "v@:", &note<>},
      {"-[NSControl stringValue]", "@@:", &textCopy},
      {"-[NSControl setStringValue:]", "v@:@", &noteAndKeep<id>},
      {"-[NSButton state]", "q@:", [](id self, SEL) { return std::atol(textOf(self).c_str()); }},
      {"-[NSButton setState:]", "v@:q", &noteAndKeep<NSInteger>},
      // Foundation URL loading: NSURLSession.h, NSURLRequest.h, NSURLResponse.h
      {"-[NSURLSessionConfiguration setRequestCachePolicy:]", "v@:Q", &note<NSUInteger>},
      {"-[NSURLSessionConfiguration setURLCache:]", "v@:@", &note<id>},
      {"-[NSURLSessionConfiguration setTimeoutIntervalForResource:]", "v@:d", &note<double>},
      {"+[NSURLSessionConfiguration defaultSessionConfiguration]", "@@:", &autoreleasedInstance},
      {"+[NSURLSession sessionWithConfiguration:]", "@@:@", &sessionWith},
      {"-[NSURLSession dataTaskWithRequest:completionHandler:]", "@@:@@?", &sessionTask},
      {"-[NSURLSession finishTasksAndInvalidate]", "v@:", &sessionInvalidate},
      {"-[NSURLSessionTask resume]", "v@:", &taskResume},
      {"+[NSURLRequest requestWithURL:cachePolicy:timeoutInterval:]", "@@:@Qd",
       [](Class, SEL, id url, NSUInteger policy, double timeout) {
         return fresh("NSMutableURLRequest", show(url) + " " + show(policy) + " " + show(timeout));
       }},
      {"-[NSMutableURLRequest addValue:forHTTPHeaderField:]", "v@:@@",
       [](id self, SEL, id value, id field) {
         record(self).text += " [" + show(field) + ": " + show(value) + "]";
       }},
      {"-[NSMutableURLRequest setHTTPMethod:]", "v@:@",
       [](id self, SEL, id method) { record(self).text += " " + show(method); }},
      {"-[NSHTTPURLResponse statusCode]", "q@:", [](id, SEL) { return NSInteger{200}; }},
  };
  return table;
}

}  // namespace

Platform& platform() {
  static Platform instance;
  return instance;
}

// Before the layer's own load-time constructors, as the frameworks load before the executable.
__attribute__((constructor(101))) static void registerStandIns() {
  __objc_msg_forward2 = &unrecognised;
  _objc_weak_load = &weakLoad;
  std::map<std::string, Class> classes;
  std::vector<Class> order;
  std::istringstream hierarchy(kHierarchy);
  for (std::string name, base;
       std::getline(hierarchy >> std::ws, name, ':') && hierarchy >> base;) {
    order.push_back(classes[name] = objc_allocateClassPair(classes[base], name.c_str(), 0));
  }
  for (const Method& method : methods()) {
    char kind = 0, className[64] = {}, selector[128] = {};
    std::sscanf(method.name, "%c[%63s %127[^]]", &kind, className, selector);
    Class type = classes.at(className);
    if (kind == '+') type = object_getClass(reinterpret_cast<id>(type));
    class_addMethod(type, sel_registerName(selector), method.implementation, method.types);
  }
  for (Class type : order) objc_registerClassPair(type);
  for (const char* name : {"UNUserNotificationCenterDelegate", "NSApplicationDelegate"})
    objc_registerProtocol(objc_allocateProtocol(name));
}

id make(const char* className, std::string text, std::vector<id> ownedItems) {
  id object = send(send(objc_getClass(className), "alloc"), "init");
  record(object).text = std::move(text);
  record(object).items = std::move(ownedItems);
  return object;
}

id permanent(const char* className, const char* text) {
  const std::lock_guard lock(ledger().mutex);
  id constant = create(objc_getClass(className));
  record(constant).text = text;
  record(constant).permanent = true;
  --ledger().totals.allocations;  // outside the balance sheet, as constants are
  return constant;
}
id permanentString(const char* text) {
  return permanent("__NSCFConstantString", text);
}

std::string textOf(id object) {
  return record(object).text;
}
std::vector<id> itemsOf(id object) {
  const std::lock_guard lock(ledger().mutex);
  return record(object).items;
}
bool isBoolean(id object) {
  return object_getClass(object) == objc_getClass("__NSCFBoolean");
}

void runPending() {
  for (;;) {
    std::vector<std::thread> threads;
    std::vector<std::function<void()>> work;
    {
      const std::lock_guard lock(platform().mutex);
      threads.swap(platform().dispatched);
      work.swap(platform().pending);
    }
    if (threads.empty() && work.empty()) return;
    for (auto& thread : threads) thread.join();
    for (auto& item : work) item();
  }
}

BalanceSheet settle() {
  runPending();
  const std::lock_guard lock(ledger().mutex);
  for (id object : std::exchange(ledger().shared, {})) send<void>(object, "release");
  BalanceSheet sheet = std::exchange(ledger().totals, BalanceSheet{});
  for (auto& [object, entry] : ledger().records) {
    if (entry.alive && !entry.permanent) {
      sheet.survivors.push_back(entry.className + " with " + std::to_string(entry.references) +
                                " reference(s)");
    }
  }
  const std::lock_guard platformLock(platform().mutex);
  sheet.blockCopies = std::exchange(platform().blockCopies, 0);
  sheet.blockReleases = std::exchange(platform().blockReleases, 0);
  platform().script = Script{};
  platform().calls.clear();
  platform().logLines.clear();
  platform().keychain.clear();
  return sheet;
}

}  // namespace tidingsbell::objc_test
