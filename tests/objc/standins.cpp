// The stand-in platform classes. Each answers only selectors that Apple's headers declare
// (Foundation and AppKit as in hexops/xcode-frameworks; SafariServices and UserNotifications as
// Apple's documentation gives them), with the declared types; any other message ends the process
// with the message a Mac would print. Every object lives in a ledger that counts its references
// and keeps it, once deallocated, as a zombie that ends the process on its next message.

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
id sharedInstance(const char* className) {
  const std::lock_guard lock(ledger().mutex);
  for (id object : ledger().shared) {
    if (record(object).className == className) return object;
  }
  return ledger().shared.emplace_back(create(objc_getClass(className)));
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
    return textOf(value).empty() ? "<" + record(value).className + ">" : textOf(value);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else {
    return std::to_string(static_cast<long long>(value));
  }
}
// Records a send that reached the platform: the receiver's class, the selector, the arguments.
template <typename... Args>
void note(id self, SEL selector, Args... args) {
  std::string call = std::string(object_getClassName(self)) + " " + sel_getName(selector);
  ((call += " " + show(args)), ...);
  const std::lock_guard lock(platform().mutex);
  platform().calls.push_back(std::move(call));
}

// What the runtime calls for a selector no class answers: on a Mac, an uncaught exception.
IMP unrecognised(id receiver, SEL selector) {
  const bool zombie = object_getClass(receiver) == objc_getClass("TidingsbellZombie");
  std::fprintf(stderr, "%c[%s %s]: %s %p\n",
               class_isMetaClass(object_getClass(receiver)) ? '+' : '-',
               zombie ? record(receiver).className.c_str() : object_getClassName(receiver),
               sel_getName(selector),
               zombie ? "message sent to deallocated instance" : "unrecognized selector sent to",
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
  ++record(self).references;
  ++ledger().totals.retains;
  return self;
}
void rootRelease(id self, SEL) {
  {
    const std::lock_guard lock(ledger().mutex);
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
// Keys and values alternately; the newest value for a key wins (user defaults keep the older).
id dictionaryGet(id self, SEL, id key) {
  const auto& items = record(self).items;
  for (std::size_t i = items.size(); i >= 2; i -= 2) {
    if (textOf(items[i - 2]) == textOf(key)) return items[i - 1];
  }
  return nullptr;
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
// The text of what NSJSONSerialization.h allows: an array or dictionary at the top, string keys,
// and only strings, numbers, nulls, arrays and dictionaries inside; none for anything else.
std::optional<std::string> toJson(id object, bool top = true) {
  const Record& entry = record(object);
  const std::string& name = entry.className;
  const bool dictionary = name == "NSDictionary";
  if (!dictionary && name != "NSArray" && name != "NSMutableArray") {
    if (top || !(name == "NSString" || name == "NSNumber" || name == "__NSCFBoolean" ||
                 name == "NSNull")) {
      return std::nullopt;
    }
    return name == "NSString" ? '"' + entry.text + '"' : entry.text;
  }
  std::string json(1, dictionary ? '{' : '[');
  for (std::size_t i = 0; i < entry.items.size(); ++i) {
    const bool key = dictionary && i % 2 == 0;
    auto item = toJson(entry.items[i], false);
    if (!item || (key && item->front() != '"')) return std::nullopt;
    json += (i == 0 ? "" : dictionary && !key ? ":" : ",") + *item;
  }
  return json + (dictionary ? '}' : ']');
}
id jsonWrite(Class, SEL, id object, NSUInteger, id*) {
  if (const auto json = toJson(object)) return fresh("NSData", *json);
  // On the platform this is an exception no caller catches, so it ends the process.
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
  std::string list;
  for (id url : record(urls).items) list += (list.empty() ? "" : ",") + textOf(url);
  note(self, selector, list, bundle, options, descriptor, identifiers != nullptr);
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

// Each class after its superclass; TidingsbellZombie is what a deallocated object becomes.
constexpr const char* kHierarchy =
    "NSObject TidingsbellZombie NSString:NSObject __NSCFConstantString:NSString NSData:NSObject "
    "NSNumber:NSObject "
    "__NSCFBoolean:NSNumber NSNull:NSObject NSArray:NSObject NSMutableArray:NSArray "
    "NSDictionary:NSObject NSDate:NSObject NSCalendar:NSObject NSUserDefaults:NSObject "
    "NSURL:NSObject NSJSONSerialization:NSObject NSError:NSObject NSCoder:NSObject "
    "SFSafariExtensionHandler:NSObject SFSafariWindow:NSObject SFSafariTab:NSObject "
    "SFSafariPage:NSObject SFSafariPageProperties:NSObject SFSafariApplication:NSObject "
    "UNUserNotificationCenter:NSObject UNNotification:NSObject UNNotificationResponse:NSObject "
    "NSWorkspace:NSObject NSResponder:NSObject NSViewController:NSResponder "
    "SFSafariExtensionViewController:NSViewController NSView:NSResponder NSControl:NSView "
    "NSTextField:NSControl NSButton:NSControl NSURLSessionConfiguration:NSObject "
    "NSURLSession:NSObject NSURLSessionTask:NSObject NSURLSessionDataTask:NSURLSessionTask "
    "NSURLRequest:NSObject NSMutableURLRequest:NSURLRequest NSURLResponse:NSObject "
    "NSHTTPURLResponse:NSURLResponse";

template <typename Function>
IMP imp(Function function) {
  return reinterpret_cast<IMP>(function);
}
struct Method {
  const char* name;  // as Apple writes it: -[Class selector], +[Class selector]
  const char* types;
  IMP implementation;
};
// Made on first use: registration runs before this file's initializers.
const std::vector<Method>& methods() {
  static const std::vector<Method> table = {
      // objc/NSObject.h
      {"+[NSObject alloc]", "@@:", imp(+[](Class self, SEL) { return create(self); })},
      {"-[NSObject init]", "@@:", imp(+[](id self, SEL) { return self; })},
      {"-[NSObject retain]", "@@:", imp(&rootRetain)},
      {"-[NSObject release]", "Vv@:", imp(&rootRelease)},
      {"-[NSObject dealloc]", "v@:", imp(&rootDealloc)},
      {"-[NSObject isKindOfClass:]", "c@:#", imp(&rootIsKindOfClass)},
      {"-[NSObject description]",
       "@@:", imp(+[](id self, SEL) { return fresh("NSString", show(self)); })},
      // Foundation: NSString.h, NSData.h, NSValue.h, NSArray.h, NSDictionary.h
      {"-[NSString initWithBytes:length:encoding:]", "@@:r^vQQ", imp(&stringInit)},
      {"-[NSString dataUsingEncoding:]", "@@:Q",
       imp(+[](id self, SEL, NSUInteger) { return fresh("NSData", textOf(self)); })},
      {"-[NSString isEqualToString:]", "c@:@",
       imp(+[](id self, SEL, id other) { return BOOL(textOf(self) == textOf(other)); })},
      {"-[NSString description]", "@@:", imp(+[](id self, SEL) { return self; })},
      {"-[__NSCFConstantString retain]", "@@:", imp(+[](id self, SEL) { return self; })},
      {"-[__NSCFConstantString release]", "Vv@:", imp(+[](id, SEL) {})},
      {"-[NSData bytes]", "r^v@:", imp(+[](id self, SEL) { return record(self).text.data(); })},
      {"-[NSData length]", "Q@:", imp(+[](id self, SEL) { return record(self).text.size(); })},
      {"+[NSData dataWithBytesNoCopy:length:freeWhenDone:]", "@@:^vQc",
       imp(+[](Class, SEL, const char* bytes, NSUInteger length, BOOL) {
         return fresh("NSData", length > 0 ? std::string(bytes, length) : "");
       })},
      {"-[NSNumber longLongValue]",
       "q@:", imp(+[](id self, SEL) { return std::atoll(textOf(self).c_str()); })},
      {"-[NSNumber boolValue]",
       "c@:", imp(+[](id self, SEL) { return BOOL(textOf(self) != "0"); })},
      {"-[NSNumber stringValue]", "@@:", imp(&textCopy)},
      {"+[NSNumber numberWithLongLong:]", "@@:q",
       imp(+[](Class, SEL, long long value) { return fresh("NSNumber", std::to_string(value)); })},
      {"-[NSArray count]", "Q@:", imp(+[](id self, SEL) { return record(self).items.size(); })},
      {"-[NSArray objectAtIndex:]", "@@:Q",
       imp(+[](id self, SEL, NSUInteger at) { return record(self).items.at(at); })},
      {"+[NSArray array]", "@@:", imp(+[](Class, SEL) { return fresh("NSMutableArray"); })},
      {"-[NSMutableArray addObject:]", "v@:@",
       imp(+[](id self, SEL, id item) { record(self).items.push_back(send(item, "retain")); })},
      {"-[NSDictionary count]",
       "Q@:", imp(+[](id self, SEL) { return record(self).items.size() / 2; })},
      {"-[NSDictionary objectForKey:]", "@@:@", imp(&dictionaryGet)},
      {"-[NSDictionary allKeys]", "@@:", imp(&dictionaryKeys)},
      // NSDate.h, NSCalendar.h, NSUserDefaults.h, NSURL.h, NSJSONSerialization.h, NSError.h
      {"-[NSDate timeIntervalSince1970]",
       "d@:", imp(+[](id self, SEL) { return std::stod(textOf(self)); })},
      {"+[NSDate date]", "@@:", imp(+[](Class, SEL) { return fresh("NSDate", "1800000000"); })},
      {"+[NSDate dateWithTimeIntervalSince1970:]", "@@:d",
       imp(+[](Class, SEL, double at) { return fresh("NSDate", std::to_string(at)); })},
      {"-[NSCalendar dateByAddingUnit:value:toDate:options:]", "@@:Qq@Q", imp(&calendarAdd)},
      {"+[NSCalendar currentCalendar]",
       "@@:", imp(+[](Class, SEL) { return sharedInstance("NSCalendar"); })},
      {"-[NSUserDefaults objectForKey:]", "@@:@", imp(&dictionaryGet)},
      {"-[NSUserDefaults setObject:forKey:]", "v@:@@", imp(+[](id self, SEL, id value, id key) {
         record(self).items.insert(record(self).items.end(),
                                   {make("NSString", textOf(key)), send(value, "retain")});
       })},
      {"+[NSUserDefaults standardUserDefaults]",
       "@@:", imp(+[](Class, SEL) { return sharedInstance("NSUserDefaults"); })},
      {"-[NSURL absoluteString]", "@@:", imp(&textCopy)},
      {"+[NSURL URLWithString:]", "@@:@", imp(+[](Class, SEL, id text) {
         return textOf(text).empty() ? nullptr : fresh("NSURL", textOf(text));
       })},
      {"+[NSJSONSerialization JSONObjectWithData:options:error:]", "@@:@Q^@", imp(&jsonRead)},
      {"+[NSJSONSerialization dataWithJSONObject:options:error:]", "@@:@Q^@", imp(&jsonWrite)},
      {"+[NSJSONSerialization isValidJSONObject:]", "c@:@",
       imp(+[](Class, SEL, id object) { return BOOL(toJson(object).has_value()); })},
      {"-[NSError localizedDescription]", "@@:", imp(&textCopy)},
      // developer.apple.com/documentation/safariservices: SFSafariWindow, SFSafariPage,
      // SFSafariPageProperties, SFSafariApplication
      {"-[SFSafariWindow openTabWithURL:makeActiveIfPossible:completionHandler:]", "v@:@c@?",
       imp(&answerLater<&tab, id, BOOL>)},
      {"-[SFSafariPage getPagePropertiesWithCompletionHandler:]", "v@:@?",
       imp(&answerLater<&pageProperties>)},
      {"-[SFSafariPageProperties url]", "@@:", imp(&firstItem)},
      {"+[SFSafariApplication showPreferencesForExtensionWithIdentifier:completionHandler:]",
       "v@:@@?", imp(&answerLater<&preferencesError, id>)},
      // developer.apple.com/documentation/usernotifications/unnotificationresponse
      {"-[UNNotificationResponse actionIdentifier]", "@@:", imp(&firstItem)},
      // AppKit: NSWorkspace.h, NSResponder.h, NSViewController.h, NSControl.h, NSButton.h
      {"-[NSWorkspace "
       "openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:launchIdentifiers:"
       "]",
       "c@:@@Q@^@", imp(&openUrls)},
      {"+[NSWorkspace sharedWorkspace]",
       "@@:", imp(+[](Class, SEL) { return sharedInstance("NSWorkspace"); })},
      {"-[NSResponder becomeFirstResponder]", "c@:", imp(+[](id self, SEL selector) {
         note(self, selector);
         return YES;
       })},
      {"-[NSViewController initWithNibName:bundle:]", "@@:@@",
       imp(+[](id self, SEL selector, id nib, id bundle) {
         note(self, selector, nib, bundle);
         return self;
       })},
      {"-[NSViewController initWithCoder:]", "@@:@", imp(&controllerInitCoder)},
      {"-[NSViewController viewDidLoad]", "v@:", imp(&note<>)},
      {"-[NSControl stringValue]", "@@:", imp(&textCopy)},
      {"-[NSControl setStringValue:]", "v@:@", imp(+[](id self, SEL selector, id text) {
         note(self, selector, text);
         record(self).text = textOf(text);
       })},
      {"-[NSButton state]",
       "q@:", imp(+[](id self, SEL) { return std::atol(textOf(self).c_str()); })},
      {"-[NSButton setState:]", "v@:q", imp(+[](id self, SEL selector, NSInteger state) {
         note(self, selector, state);
         record(self).text = std::to_string(state);
       })},
      // Foundation URL loading: NSURLSession.h, NSURLRequest.h, NSURLResponse.h
      {"-[NSURLSessionConfiguration setRequestCachePolicy:]", "v@:Q", imp(&note<NSUInteger>)},
      {"-[NSURLSessionConfiguration setURLCache:]", "v@:@", imp(&note<id>)},
      {"-[NSURLSessionConfiguration setTimeoutIntervalForResource:]", "v@:d", imp(&note<double>)},
      {"+[NSURLSessionConfiguration defaultSessionConfiguration]",
       "@@:", imp(+[](Class, SEL) { return fresh("NSURLSessionConfiguration"); })},
      {"+[NSURLSession sessionWithConfiguration:]", "@@:@", imp(&sessionWith)},
      {"-[NSURLSession dataTaskWithRequest:completionHandler:]", "@@:@@?", imp(&sessionTask)},
      {"-[NSURLSession finishTasksAndInvalidate]", "v@:", imp(&sessionInvalidate)},
      {"-[NSURLSessionTask resume]", "v@:", imp(&taskResume)},
      {"+[NSURLRequest requestWithURL:cachePolicy:timeoutInterval:]", "@@:@Qd",
       imp(+[](Class, SEL, id url, NSUInteger policy, double timeout) {
         return fresh("NSMutableURLRequest", show(url) + " " + show(policy) + " " + show(timeout));
       })},
      {"-[NSMutableURLRequest addValue:forHTTPHeaderField:]", "v@:@@",
       imp(+[](id self, SEL, id value, id field) {
         record(self).text += " [" + show(field) + ": " + show(value) + "]";
       })},
      {"-[NSMutableURLRequest setHTTPMethod:]", "v@:@",
       imp(+[](id self, SEL, id method) { record(self).text += " " + show(method); })},
      {"-[NSHTTPURLResponse statusCode]", "q@:", imp(+[](id, SEL) { return NSInteger{200}; })},
  };
  return table;
}

}  // namespace

Platform& platform() {
  static Platform instance;
  return instance;
}

// Before the layer's own load-time constructors, as the frameworks load before the executable.
__attribute__((constructor(101))) void registerStandIns() {
  if (objc_getClass("NSObject") != nullptr) return;
  __objc_msg_forward2 = &unrecognised;
  _objc_weak_load = &weakLoad;
  std::map<std::string, Class> classes;
  std::vector<Class> order;
  std::istringstream hierarchy(kHierarchy);
  for (std::string entry; hierarchy >> entry;) {
    const auto colon = entry.find(':');
    const std::string name = entry.substr(0, colon);
    const std::string base = colon == std::string::npos ? "" : entry.substr(colon + 1);
    order.push_back(classes[name] = objc_allocateClassPair(classes[base], name.c_str(), 0));
  }
  for (const Method& method : methods()) {
    const std::string name = method.name;
    const auto space = name.find(' ');
    Class type = classes.at(name.substr(2, space - 2));
    if (name[0] == '+') type = object_getClass(reinterpret_cast<id>(type));
    const std::string selector = name.substr(space + 1, name.size() - space - 2);
    class_addMethod(type, sel_registerName(selector.c_str()), method.implementation, method.types);
  }
  for (Class type : order) objc_registerClassPair(type);
  for (const char* name : {"UNUserNotificationCenterDelegate", "NSApplicationDelegate"}) {
    objc_registerProtocol(objc_allocateProtocol(name));
  }
}

id make(const char* className, std::string text, std::vector<id> ownedItems) {
  id object = send(send(objc_getClass(className), "alloc"), "init");
  record(object).text = std::move(text);
  record(object).items = std::move(ownedItems);
  return object;
}

id permanentString(const char* text) {
  const std::lock_guard lock(ledger().mutex);
  id string = create(objc_getClass("__NSCFConstantString"));
  record(string).text = text;
  --ledger().totals.allocations;  // outside the balance sheet, as constants are
  return string;
}

std::string textOf(id object) {
  return record(object).text;
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
  std::vector<id> kept;
  {
    const std::lock_guard lock(ledger().mutex);
    kept.swap(ledger().shared);
  }
  for (id object : kept) send<void>(object, "release");
  const std::lock_guard lock(ledger().mutex);
  BalanceSheet sheet = std::exchange(ledger().totals, BalanceSheet{});
  for (auto& [object, entry] : ledger().records) {
    if (entry.alive && entry.className != "__NSCFConstantString") {
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
