// The stand-in platform classes. Each answers only selectors that Apple's headers declare
// (Foundation and AppKit as in hexops/xcode-frameworks; SafariServices and UserNotifications as
// Apple's documentation gives them), with the declared types; any other message ends the process
// with the message a Mac would print. Every object lives in a ledger that counts its references
// and keeps it, once deallocated, as a zombie that ends the process on its next message.

#include "tests/objc/standins.hpp"

#include <objc/hooks.h>
#include <simdjson.h>

#include <cstdio>
#include <cstdlib>
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
  long references = 1;
  bool alive = true;
  bool permanent = false;  // constant strings: never counted, never freed
  std::string text;        // strings, data, URLs, error descriptions
  long long number = 0;
  double seconds = 0;
  std::vector<id> items;  // held: elements, keys and values alternately, or related objects
};

// Function statics: constant strings are made by other files' initializers, in any order.
std::recursive_mutex& ledgerMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
std::unordered_map<id, Record>& ledger() {
  static std::unordered_map<id, Record> table;
  return table;
}
std::vector<id>& shared() {  // what the platform keeps for the process
  static std::vector<id> objects;
  return objects;
}
Class zombie = nullptr;
BalanceSheet totals;  // guarded by ledgerMutex()

Record& record(id object) {
  const std::lock_guard lock(ledgerMutex());
  return ledger().at(object);
}

id create(Class type) {
  id object = class_createInstance(type, 0);
  const std::lock_guard lock(ledgerMutex());
  ledger()[object].className = class_getName(type);
  ++totals.allocations;
  return object;
}
id createAutoreleased(const char* className) {
  return objc_autorelease(create(objc_getClass(className)));
}
id withText(id object, std::string text) {
  record(object).text = std::move(text);
  return object;
}
id autoreleasedString(std::string text) {
  return withText(createAutoreleased("NSString"), std::move(text));
}
id sharedInstance(const char* className) {
  const std::lock_guard lock(ledgerMutex());
  for (id object : shared()) {
    if (ledger().at(object).className == className) return object;
  }
  return shared().emplace_back(create(objc_getClass(className)));
}
void note(std::string call) {
  const std::lock_guard lock(platform().mutex);
  platform().calls.push_back(std::move(call));
}
void later(std::function<void()> completion) {
  const std::lock_guard lock(platform().mutex);
  platform().pending.push_back(std::move(completion));
}
std::string show(id object) {
  if (object == nullptr) return "nil";
  const Record& entry = record(object);
  return entry.text.empty() ? "<" + entry.className + ">" : entry.text;
}

[[noreturn]] void endProcess(const char* form, const char* name, SEL selector, id receiver) {
  std::fprintf(stderr, form, name, sel_getName(selector), static_cast<void*>(receiver));
  std::abort();
}

// What the runtime calls for a selector no class answers: on a Mac, an uncaught exception.
IMP unrecognised(id receiver, SEL selector) {
  Class type = object_getClass(receiver);
  if (type == zombie) {
    endProcess("-[%s %s]: message sent to deallocated instance %p\n",
               record(receiver).className.c_str(), selector, receiver);
  }
  if (class_isMetaClass(type)) {
    endProcess("+[%s %s]: unrecognized selector sent to class %p\n",
               class_getName(reinterpret_cast<Class>(receiver)), selector, receiver);
  }
  endProcess("-[%s %s]: unrecognized selector sent to instance %p\n", class_getName(type), selector,
             receiver);
}

// A weak reference yields its object only while the ledger has it alive.
id weakLoad(id object) {
  const std::lock_guard lock(ledgerMutex());
  auto found = ledger().find(object);
  return found != ledger().end() && found->second.alive ? object : nullptr;
}

// --- NSObject (objc/NSObject.h) ----------------------------------------------------------------

id rootAlloc(Class self, SEL) {
  return create(self);
}
id rootInit(id self, SEL) {
  return self;
}
id rootRetain(id self, SEL) {
  const std::lock_guard lock(ledgerMutex());
  Record& entry = ledger().at(self);
  if (!entry.permanent) {
    ++entry.references;
    ++totals.retains;
  }
  return self;
}
void rootRelease(id self, SEL) {
  {
    const std::lock_guard lock(ledgerMutex());
    Record& entry = ledger().at(self);
    if (entry.permanent) return;
    ++totals.releases;
    if (--entry.references > 0) return;
  }
  objc_delete_weak_refs(self);
  send<void>(self, "dealloc");
}
void rootDealloc(id self, SEL) {
  std::vector<id> items;
  {
    const std::lock_guard lock(ledgerMutex());
    Record& entry = ledger().at(self);
    entry.alive = false;
    ++totals.deallocations;
    items.swap(entry.items);
  }
  for (id item : items) send<void>(item, "release");
  object_setClass(self, zombie);
}
BOOL rootIsKindOfClass(id self, SEL, Class target) {
  for (Class type = object_getClass(self); type != nullptr; type = class_getSuperclass(type)) {
    if (type == target) return YES;
  }
  return NO;
}
id rootDescription(id self, SEL) {
  const std::string& text = record(self).text;
  return autoreleasedString(text.empty() ? "<" + record(self).className + ">" : text);
}

// --- Foundation values -------------------------------------------------------------------------

id stringInit(id self, SEL, const void* bytes, NSUInteger length, NSUInteger encoding) {
  if (encoding != apple::kNSUTF8StringEncoding)
    note("initWithBytes: encoding " + std::to_string(encoding));
  record(self).text.assign(static_cast<const char*>(bytes), length);
  return self;
}
id stringData(id self, SEL, NSUInteger) {
  return withText(createAutoreleased("NSData"), record(self).text);
}
BOOL stringEquals(id self, SEL, id other) {
  return other != nullptr && record(self).text == record(other).text ? YES : NO;
}
id dataNoCopy(Class, SEL, void* bytes, NSUInteger length, BOOL) {
  return withText(createAutoreleased("NSData"),
                  length > 0 ? std::string(static_cast<const char*>(bytes), length) : "");
}
id numberWithLongLong(Class, SEL, long long value) {
  return objc_autorelease(makeNumber(value));
}
NSUInteger arrayCount(id self, SEL) {
  return record(self).items.size();
}
id arrayAt(id self, SEL selector, NSUInteger index) {
  const auto& items = record(self).items;
  if (index >= items.size())
    endProcess("-[%s %s]: index out of bounds %p\n", "NSArray", selector, self);
  return items[index];
}
id arrayNew(Class self, SEL) {
  return objc_autorelease(create(self));
}
void arrayAdd(id self, SEL, id object) {
  record(self).items.push_back(send(object, "retain"));
}
id dictionaryGet(id self, SEL, id key) {
  const auto& items = record(self).items;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
    if (textOf(items[i]) == textOf(key)) return items[i + 1];
  }
  return nullptr;
}
NSUInteger dictionaryCount(id self, SEL) {
  return record(self).items.size() / 2;
}
id dictionaryKeys(id self, SEL) {
  id keys = createAutoreleased("NSArray");
  const auto& items = record(self).items;
  for (std::size_t i = 0; i < items.size(); i += 2) arrayAdd(keys, nullptr, items[i]);
  return keys;
}
id dateAt(Class, SEL, double seconds) {
  id date = createAutoreleased("NSDate");
  record(date).seconds = seconds;
  return date;
}
id dateNow(Class self, SEL selector) {
  return dateAt(self, selector, 1.8e9);  // a fixed now, 2027
}
id calendarAdd(id, SEL, NSUInteger unit, NSInteger value, id date, NSUInteger options) {
  note("dateByAddingUnit: " + std::to_string(unit) + " value: " + std::to_string(value) +
       " options: " + std::to_string(options));
  constexpr NSUInteger kMinute = 1UL << 6;
  if (unit != kMinute) return nullptr;
  return dateAt(nullptr, nullptr, record(date).seconds + 60.0 * static_cast<double>(value));
}
void defaultsSet(id self, SEL, id value, id key) {
  auto& items = record(self).items;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
    if (textOf(items[i]) != textOf(key)) continue;
    id old = std::exchange(items[i + 1], send(value, "retain"));
    send<void>(old, "release");
    return;
  }
  items.push_back(makeString(textOf(key)));  // keys are copied
  items.push_back(send(value, "retain"));
}
id urlWithString(Class, SEL, id text) {
  return textOf(text).empty() ? nullptr : withText(createAutoreleased("NSURL"), textOf(text));
}
// Getters of what an object holds: a copy of its text, its first related object, its number.
id textCopy(id self, SEL) {
  return autoreleasedString(record(self).text);
}
id firstItem(id self, SEL) {
  return record(self).items.at(0);
}
NSInteger integer(id self, SEL) {
  return record(self).number;
}

id fromJson(simdjson::dom::element element) {
  switch (element.type()) {
    case simdjson::dom::element_type::ARRAY: {
      std::vector<id> items;
      const simdjson::dom::array array = element.get_array().value_unsafe();
      for (auto item : array) items.push_back(fromJson(item));
      return makeArray(std::move(items));
    }
    case simdjson::dom::element_type::OBJECT: {
      std::vector<std::pair<id, id>> entries;
      const simdjson::dom::object object = element.get_object().value_unsafe();
      for (auto field : object) {
        entries.emplace_back(makeString(field.key), fromJson(field.value));
      }
      return makeDictionary(std::move(entries));
    }
    case simdjson::dom::element_type::STRING:
      return makeString(element.get_string().value_unsafe());
    case simdjson::dom::element_type::BOOL:
      return makeBool(element.get_bool().value_unsafe());
    case simdjson::dom::element_type::NULL_VALUE:
      return make("NSNull");
    default:
      return withText(makeNumber(static_cast<long long>(element.get_double().value_unsafe())),
                      simdjson::minify(element));
  }
}
id jsonRead(Class, SEL, id data, NSUInteger, id* error) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(record(data).text).get(root) != simdjson::SUCCESS ||
      !(root.is_array() || root.is_object())) {
    if (error != nullptr) {
      *error =
          withText(createAutoreleased("NSError"),
                   "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
    }
    return nullptr;
  }
  return objc_autorelease(fromJson(root));
}
std::string toJson(id object) {
  const std::string& className = record(object).className;
  if (className == "NSString") return '"' + textOf(object) + '"';
  if (className == "NSNull") return "null";
  if (className == "__NSCFBoolean") return numberOf(object) != 0 ? "true" : "false";
  if (className == "NSNumber") return textOf(object);
  const bool dictionary = className == "NSDictionary";
  std::string json(1, dictionary ? '{' : '[');
  const auto& items = record(object).items;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) json += dictionary && i % 2 == 1 ? ":" : ",";
    json += toJson(items[i]);
  }
  return json + (dictionary ? '}' : ']');
}
// What NSJSONSerialization.h allows: an array or dictionary at the top, string keys, and only
// strings, numbers, nulls, arrays and dictionaries inside.
bool expressibleInJson(id object, bool topLevel) {
  const std::string& className = record(object).className;
  const bool dictionary = className == "NSDictionary";
  if (dictionary || className == "NSArray" || className == "NSMutableArray") {
    const auto& items = record(object).items;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const bool key = dictionary && i % 2 == 0;
      if (key ? record(items[i]).className != "NSString" : !expressibleInJson(items[i], false)) {
        return false;
      }
    }
    return true;
  }
  return !topLevel && (className == "NSString" || className == "NSNull" ||
                       className == "__NSCFBoolean" || className == "NSNumber");
}
BOOL jsonValid(Class, SEL, id object) {
  return expressibleInJson(object, true) ? YES : NO;
}
id jsonWrite(Class, SEL, id object, NSUInteger, id*) {
  // On the platform this is an exception no caller catches, so it ends the process.
  if (!expressibleInJson(object, true)) {
    std::fprintf(stderr,
                 "+[NSJSONSerialization dataWithJSONObject:options:error:]: Invalid "
                 "type in JSON write (%s)\n",
                 record(object).className.c_str());
    std::abort();
  }
  return withText(createAutoreleased("NSData"), toJson(object));
}

// --- Platform objects --------------------------------------------------------------------------

// The platform keeps the completion, calls it later with what `answer` makes, then lets go.
void answerLater(void (^completion)(id), std::function<id()> answer) {
  later([block = Block_copy(completion), answer = std::move(answer)] {
    id object = answer();
    if (block != nullptr) block(object);
    if (object != nullptr) send<void>(object, "release");
    Block_release(block);
  });
}
void openTab(id, SEL, id url, BOOL active, void (^completion)(id)) {
  note("openTabWithURL: " + show(url) + " makeActiveIfPossible: " + (active != NO ? "YES" : "NO"));
  answerLater(completion,
              [] { return platform().script.tabOpens ? make("SFSafariTab") : nullptr; });
}
void pageProperties(id, SEL, void (^completion)(id)) {
  note("getPagePropertiesWithCompletionHandler:");
  answerLater(completion, []() -> id {
    const auto url = platform().script.pageUrl;
    if (!url) return nullptr;
    id properties = make("SFSafariPageProperties");
    give(properties, withText(make("NSURL"), *url));
    return properties;
  });
}
void showPreferences(Class, SEL, id identifier, void (^completion)(id)) {
  note("showPreferencesForExtensionWithIdentifier: " + show(identifier));
  answerLater(completion, []() -> id {
    const auto text = platform().script.preferencesError;
    return text ? withText(make("NSError"), *text) : nullptr;
  });
}
BOOL openUrls(id, SEL, id urls, id bundle, NSUInteger options, id descriptor, id* identifiers) {
  std::string call = "openURLs:";
  for (id url : record(urls).items) call += " " + textOf(url);
  note(call + " withAppBundleIdentifier: " + show(bundle) + " options: " + std::to_string(options) +
       (descriptor == nullptr && identifiers == nullptr ? "" : " more"));
  return YES;
}
// --- AppKit ------------------------------------------------------------------------------------

id controllerInitNib(id self, SEL, id nib, id bundle) {
  note("NSViewController initWithNibName: " + show(nib) + " bundle: " + show(bundle));
  return self;
}
id controllerInitCoder(id self, SEL, id coder) {
  note("NSViewController initWithCoder: " + show(coder));
  if (!platform().script.coderFails) return self;
  send<void>(self, "release");
  return nullptr;
}
void controllerViewDidLoad(id, SEL) {
  note("NSViewController viewDidLoad");
}
BOOL becomeFirstResponder(id self, SEL) {
  note(record(self).className + " becomeFirstResponder");
  return YES;
}
void controlSetString(id self, SEL, id text) {
  note(record(self).className + " setStringValue: " + show(text));
  record(self).text = textOf(text);
}
void buttonSetState(id self, SEL, NSInteger state) {
  note("NSButton setState: " + std::to_string(state));
  record(self).number = state;
}

// --- URL loading -------------------------------------------------------------------------------

void configurationCachePolicy(id, SEL, NSUInteger policy) {
  note("setRequestCachePolicy: " + std::to_string(policy));
}
void configurationCache(id, SEL, id cache) {
  note("setURLCache: " + show(cache));
}
void configurationResourceTimeout(id, SEL, double seconds) {
  note("setTimeoutIntervalForResource: " + std::to_string(static_cast<int>(seconds)));
}
id sessionWith(Class, SEL, id configuration) {
  id session = createAutoreleased("NSURLSession");
  record(session).items.push_back(send(configuration, "retain"));
  record(session).number = 1;  // the system's own reference, given up once invalidated and idle
  send(session, "retain");
  return session;
}
// Once invalidated (seconds < 0) and without running tasks (only the configuration is held).
void sessionLetGo(id session) {
  Record& entry = record(session);
  if (entry.number == 1 && entry.seconds < 0 && entry.items.size() == 1) {
    entry.number = 0;
    send<void>(session, "release");
  }
}
id sessionTask(id self, SEL, id request, void (^completion)(id, id, id)) {
  note("dataTaskWithRequest: " + textOf(request));
  id task = createAutoreleased("NSURLSessionDataTask");
  record(self).items.push_back(send(task, "retain"));  // running tasks belong to the session
  record(task).items.push_back(send(self, "retain"));
  auto copied = Block_copy(completion);
  record(task).number = reinterpret_cast<std::intptr_t>(copied);
  return task;
}
void sessionInvalidate(id self, SEL) {
  note("finishTasksAndInvalidate");
  record(self).seconds = -1;
  sessionLetGo(self);
}
void taskResume(id self, SEL) {
  note("resume");
  using Completion = void (^)(id, id, id);
  auto completion = reinterpret_cast<Completion>(static_cast<std::intptr_t>(record(self).number));
  id session = record(self).items.at(0);
  later([completion, self, session] {
    id data = withText(make("NSData"), platform().script.httpBody);
    id response = make("NSHTTPURLResponse");
    record(response).number = platform().script.httpStatus;
    completion(data, response, nullptr);
    Block_release(completion);
    send<void>(data, "release");
    send<void>(response, "release");
    auto& tasks = record(session).items;
    std::erase(tasks, self);
    send<void>(self, "release");
    sessionLetGo(session);
  });
}
id requestWith(Class, SEL, id url, NSUInteger policy, double timeout) {
  return withText(createAutoreleased("NSMutableURLRequest"),
                  show(url) + " cachePolicy: " + std::to_string(policy) +
                      " timeoutInterval: " + std::to_string(static_cast<int>(timeout)));
}
void requestAddValue(id self, SEL, id value, id field) {
  record(self).text += " [" + show(field) + ": " + show(value) + "]";
}
void requestMethod(id self, SEL, id method) {
  record(self).text += " " + show(method);
}

// --- Registration ------------------------------------------------------------------------------

struct MethodSpec {
  const char* selector;
  IMP implementation;
  const char* types;
};
struct ClassSpec {
  const char* name;
  const char* superclass;
  std::vector<MethodSpec> instanceMethods;
  std::vector<MethodSpec> classMethods = {};
};

template <typename Function>
IMP imp(Function function) {
  return reinterpret_cast<IMP>(function);
}

// The declaration each method stands for is in the header or documentation page named beside it.
const std::vector<ClassSpec>& classes() {
  static const std::vector<ClassSpec> table = {
      {"NSObject",
       nullptr,  // objc/NSObject.h
       {{"init", imp(&rootInit), "@@:"},
        {"retain", imp(&rootRetain), "@@:"},
        {"release", imp(&rootRelease), "Vv@:"},
        {"dealloc", imp(&rootDealloc), "v@:"},
        {"isKindOfClass:", imp(&rootIsKindOfClass), "c@:#"},
        {"description", imp(&rootDescription), "@@:"}},
       {{"alloc", imp(&rootAlloc), "@@:"}}},
      {"NSString",
       "NSObject",  // Foundation NSString.h
       {{"initWithBytes:length:encoding:", imp(&stringInit), "@@:r^vQQ"},
        {"dataUsingEncoding:", imp(&stringData), "@@:Q"},
        {"isEqualToString:", imp(&stringEquals), "c@:@"},
        {"description", imp(+[](id self, SEL) { return self; }), "@@:"}}},
      {"NSData",
       "NSObject",  // NSData.h
       {{"bytes", imp(+[](id self, SEL) -> const void* { return record(self).text.data(); }),
         "r^v@:"},
        {"length", imp(+[](id self, SEL) -> NSUInteger { return record(self).text.size(); }),
         "Q@:"}},
       {{"dataWithBytesNoCopy:length:freeWhenDone:", imp(&dataNoCopy), "@@:^vQc"}}},
      {"NSNumber",
       "NSObject",  // NSValue.h
       {{"longLongValue", imp(+[](id self, SEL) { return record(self).number; }), "q@:"},
        {"boolValue",
         imp(+[](id self, SEL) -> BOOL { return record(self).number != 0 ? YES : NO; }), "c@:"},
        {"stringValue", imp(&textCopy), "@@:"}},
       {{"numberWithLongLong:", imp(&numberWithLongLong), "@@:q"}}},
      {"__NSCFBoolean", "NSNumber", {}},  // the class of kCFBooleanTrue and kCFBooleanFalse
      {"NSNull", "NSObject", {}},         // NSNull.h
      {"NSArray",
       "NSObject",  // NSArray.h
       {{"count", imp(&arrayCount), "Q@:"}, {"objectAtIndex:", imp(&arrayAt), "@@:Q"}},
       {{"array", imp(&arrayNew), "@@:"}}},
      {"NSMutableArray", "NSArray", {{"addObject:", imp(&arrayAdd), "v@:@"}}},
      {"NSDictionary",
       "NSObject",  // NSDictionary.h
       {{"count", imp(&dictionaryCount), "Q@:"},
        {"objectForKey:", imp(&dictionaryGet), "@@:@"},
        {"allKeys", imp(&dictionaryKeys), "@@:"}}},
      {"NSDate",
       "NSObject",  // NSDate.h
       {{"timeIntervalSince1970", imp(+[](id self, SEL) { return record(self).seconds; }), "d@:"}},
       {{"date", imp(&dateNow), "@@:"}, {"dateWithTimeIntervalSince1970:", imp(&dateAt), "@@:d"}}},
      {"NSCalendar",
       "NSObject",  // NSCalendar.h
       {{"dateByAddingUnit:value:toDate:options:", imp(&calendarAdd), "@@:Qq@Q"}},
       {{"currentCalendar", imp(+[](Class, SEL) { return sharedInstance("NSCalendar"); }), "@@:"}}},
      {"NSUserDefaults",
       "NSObject",  // NSUserDefaults.h
       {{"objectForKey:", imp(&dictionaryGet), "@@:@"},
        {"setObject:forKey:", imp(&defaultsSet), "v@:@@"}},
       {{"standardUserDefaults", imp(+[](Class, SEL) { return sharedInstance("NSUserDefaults"); }),
         "@@:"}}},
      {"NSURL",
       "NSObject",  // NSURL.h
       {{"absoluteString", imp(&textCopy), "@@:"}},
       {{"URLWithString:", imp(&urlWithString), "@@:@"}}},
      {"NSJSONSerialization",
       "NSObject",
       {},  // NSJSONSerialization.h
       {{"JSONObjectWithData:options:error:", imp(&jsonRead), "@@:@Q^@"},
        {"dataWithJSONObject:options:error:", imp(&jsonWrite), "@@:@Q^@"},
        {"isValidJSONObject:", imp(&jsonValid), "c@:@"}}},
      {"NSError",
       "NSObject",  // NSError.h
       {{"localizedDescription", imp(&textCopy), "@@:"}}},
      {"NSCoder", "NSObject", {}},
      // SafariServices, from developer.apple.com/documentation/safariservices
      {"SFSafariExtensionHandler", "NSObject", {}},
      {"SFSafariWindow",
       "NSObject",  // openTabWithURL:makeActiveIfPossible:completionHandler:
       {{"openTabWithURL:makeActiveIfPossible:completionHandler:", imp(&openTab), "v@:@c@?"}}},
      {"SFSafariTab", "NSObject", {}},
      {"SFSafariPage",
       "NSObject",  // getPagePropertiesWithCompletionHandler:
       {{"getPagePropertiesWithCompletionHandler:", imp(&pageProperties), "v@:@?"}}},
      {"SFSafariPageProperties", "NSObject", {{"url", imp(&firstItem), "@@:"}}},  // url
      {"SFSafariApplication",
       "NSObject",
       {},  // +showPreferencesForExtensionWithIdentifier:...
       {{"showPreferencesForExtensionWithIdentifier:completionHandler:", imp(&showPreferences),
         "v@:@@?"}}},
      // UserNotifications, from developer.apple.com/documentation/usernotifications
      {"UNUserNotificationCenter", "NSObject", {}},
      {"UNNotification", "NSObject", {}},
      {"UNNotificationResponse", "NSObject", {{"actionIdentifier", imp(&firstItem), "@@:"}}},
      // AppKit
      {"NSWorkspace",
       "NSObject",  // NSWorkspace.h
       {{"openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:"
         "launchIdentifiers:",
         imp(&openUrls), "c@:@@Q@^@"}},
       {{"sharedWorkspace", imp(+[](Class, SEL) { return sharedInstance("NSWorkspace"); }),
         "@@:"}}},
      {"NSResponder", "NSObject", {{"becomeFirstResponder", imp(&becomeFirstResponder), "c@:"}}},
      {"NSViewController",
       "NSResponder",  // NSViewController.h
       {{"initWithNibName:bundle:", imp(&controllerInitNib), "@@:@@"},
        {"initWithCoder:", imp(&controllerInitCoder), "@@:@"},
        {"viewDidLoad", imp(&controllerViewDidLoad), "v@:"}}},
      {"SFSafariExtensionViewController", "NSViewController", {}},
      {"NSView", "NSResponder", {}},
      {"NSControl",
       "NSView",  // NSControl.h
       {{"stringValue", imp(&textCopy), "@@:"},
        {"setStringValue:", imp(&controlSetString), "v@:@"}}},
      {"NSTextField", "NSControl", {}},
      {"NSButton",
       "NSControl",  // NSButton.h: NSControlStateValue state
       {{"state", imp(&integer), "q@:"}, {"setState:", imp(&buttonSetState), "v@:q"}}},
      // Foundation URL loading: NSURLSession.h, NSURLRequest.h, NSURLResponse.h
      {"NSURLSessionConfiguration",
       "NSObject",
       {{"setRequestCachePolicy:", imp(&configurationCachePolicy), "v@:Q"},
        {"setURLCache:", imp(&configurationCache), "v@:@"},
        {"setTimeoutIntervalForResource:", imp(&configurationResourceTimeout), "v@:d"}},
       {{"defaultSessionConfiguration",
         imp(+[](Class, SEL) { return createAutoreleased("NSURLSessionConfiguration"); }), "@@:"}}},
      {"NSURLSession",
       "NSObject",
       {{"dataTaskWithRequest:completionHandler:", imp(&sessionTask), "@@:@@?"},
        {"finishTasksAndInvalidate", imp(&sessionInvalidate), "v@:"}},
       {{"sessionWithConfiguration:", imp(&sessionWith), "@@:@"}}},
      {"NSURLSessionTask", "NSObject", {{"resume", imp(&taskResume), "v@:"}}},
      {"NSURLSessionDataTask", "NSURLSessionTask", {}},
      {"NSURLRequest",
       "NSObject",
       {},
       {{"requestWithURL:cachePolicy:timeoutInterval:", imp(&requestWith), "@@:@Qd"}}},
      {"NSMutableURLRequest",
       "NSURLRequest",
       {{"addValue:forHTTPHeaderField:", imp(&requestAddValue), "v@:@@"},
        {"setHTTPMethod:", imp(&requestMethod), "v@:@"}}},
      {"NSURLResponse", "NSObject", {}},
      {"NSHTTPURLResponse", "NSURLResponse", {{"statusCode", imp(&integer), "q@:"}}},
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
  zombie = objc_allocateClassPair(nullptr, "TidingsbellZombie", 0);
  objc_registerClassPair(zombie);
  for (const auto& spec : classes()) {
    Class type = objc_allocateClassPair(
        spec.superclass != nullptr ? objc_getClass(spec.superclass) : nullptr, spec.name, 0);
    for (const auto& method : spec.instanceMethods) {
      class_addMethod(type, sel_registerName(method.selector), method.implementation, method.types);
    }
    for (const auto& method : spec.classMethods) {
      class_addMethod(object_getClass(reinterpret_cast<id>(type)),
                      sel_registerName(method.selector), method.implementation, method.types);
    }
    objc_registerClassPair(type);
  }
  for (const char* name : {"UNUserNotificationCenterDelegate", "NSApplicationDelegate"}) {
    objc_registerProtocol(objc_allocateProtocol(name));
  }
}

id make(const char* className) {
  return send(send(objc_getClass(className), "alloc"), "init");
}
id makeString(std::string_view text) {
  return withText(make("NSString"), std::string(text));
}
id makeNumber(long long value) {
  id number = withText(make("NSNumber"), std::to_string(value));
  record(number).number = value;
  return number;
}
id makeBool(bool value) {
  id number = withText(make("__NSCFBoolean"), value ? "1" : "0");
  record(number).number = value ? 1 : 0;
  return number;
}
id makeArray(std::vector<id> ownedItems) {
  id array = make("NSArray");
  record(array).items = std::move(ownedItems);
  return array;
}
id makeDictionary(std::vector<std::pair<id, id>> ownedEntries) {
  id dictionary = make("NSDictionary");
  for (auto [key, value] : ownedEntries) {
    record(dictionary).items.push_back(key);
    record(dictionary).items.push_back(value);
  }
  return dictionary;
}

void give(id holder, id ownedItem) {
  record(holder).items.push_back(ownedItem);
}

std::string textOf(id object) {
  return record(object).text;
}
long long numberOf(id object) {
  return record(object).number;
}
bool isBoolean(id object) {
  return object_getClass(object) == objc_getClass("__NSCFBoolean");
}

id permanentString(const char* text) {
  const std::lock_guard lock(ledgerMutex());
  for (auto& [object, entry] : ledger()) {
    if (entry.permanent && entry.text == text) return object;
  }
  id string = create(objc_getClass("NSString"));
  ledger().at(string).text = text;
  ledger().at(string).permanent = true;
  --totals.allocations;
  static auto* const kept = new std::vector<id>;  // reachable to the end, as constants are
  kept->push_back(string);
  return string;
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

BalanceSheet balanceSheet() {
  std::vector<id> kept;
  {
    const std::lock_guard lock(ledgerMutex());
    kept.swap(shared());
  }
  for (id object : kept) send<void>(object, "release");
  const std::lock_guard lock(ledgerMutex());
  BalanceSheet sheet = totals;
  for (const auto& [object, entry] : ledger()) {
    if (entry.alive && !entry.permanent) {
      sheet.survivors.push_back(entry.className + " with " + std::to_string(entry.references) +
                                " reference(s)");
    }
  }
  return sheet;
}

void resetLedger() {
  const std::lock_guard lock(ledgerMutex());
  for (auto entry = ledger().begin(); entry != ledger().end();) {
    if (entry->second.alive) {
      ++entry;
      continue;
    }
    object_dispose(entry->first);
    entry = ledger().erase(entry);
  }
  totals = BalanceSheet{};
  const std::lock_guard platformLock(platform().mutex);
  platform().script = Script{};
  platform().calls.clear();
  platform().logLines.clear();
  platform().blockCopies = platform().blockReleases = 0;
}

}  // namespace tidingsbell::objc_test
