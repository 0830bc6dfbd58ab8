// The macOS layer driven as Safari, UserNotifications, the interface loader and AppKit drive it:
// every registered method sent by name, what reaches the platform checked, and at the end of each
// test a balance sheet: every object released exactly once, every copied block released.

#include <gtest/gtest.h>

#include "extension/PollNotifications.hpp"
#include "platform/apple/apple_platform.hpp"
#include "tests/objc/standins.hpp"

namespace tidingsbell::objc_test {
namespace {

using apple::cls;
using apple::Owned;
using apple::send;
using Calls = std::vector<std::string>;

class Layer : public testing::Test {
 protected:
  void TearDown() override {
    runPending();
    const BalanceSheet sheet = balanceSheet();
    EXPECT_EQ(sheet.survivors, Calls{}) << "objects never released";
    EXPECT_EQ(sheet.allocations + sheet.retains, sheet.releases);
    EXPECT_EQ(sheet.allocations, sheet.deallocations);
    EXPECT_EQ(platform().blockCopies, platform().blockReleases) << "copied blocks never released";
    resetLedger();
  }

  // Safari and UserNotifications make a handler for each event and release it right after.
  template <typename... Args>
  static void toHandler(const char* selector, Args... args) {
    const apple::AutoreleasePool pool;
    id handler = send(send(cls("SafariExtensionHandler"), "alloc"), "init");
    send<void, Args...>(handler, selector, args...);
    send<void>(handler, "release");
  }

  // A control or the loader sends to the controller within one turn of the run loop.
  template <typename R = void, typename... Args>
  static R toController(id controller, const char* selector, Args... args) {
    const apple::AutoreleasePool pool;
    return send<R, Args...>(controller, selector, args...);
  }

  static std::vector<std::pair<bool, std::string>> validate() {
    std::vector<std::pair<bool, std::string>> answers;
    auto* seen = &answers;
    const Owned window(make("SFSafariWindow"));
    toHandler("validateToolbarItemInWindow:validationHandler:", window.get(),
              ^(BOOL enabled, id badge) {
                seen->emplace_back(enabled != NO, textOf(badge));
              });
    runPending();
    return answers;
  }
};

// The shapes the frameworks look for: base class, protocol, and each method's types.
TEST_F(Layer, ClassesAreRegisteredWithTheirBasesAndMethodTypes) {
  struct Shape {
    const char* name;
    const char* base;
    const char* protocol;
    std::vector<std::pair<const char*, const char*>> methods;
  };
  const std::vector<Shape> shapes = {
      {"SafariExtensionHandler",
       "SFSafariExtensionHandler",
       "UNUserNotificationCenterDelegate",
       {{"messageReceivedWithName:fromPage:userInfo:", "v@:@@@"},
        {"toolbarItemClickedInWindow:", "v@:@"},
        {"validateToolbarItemInWindow:validationHandler:", "v@:@@?"},
        {"userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:", "v@:@@@?"},
        {"userNotificationCenter:willPresentNotification:withCompletionHandler:", "v@:@@@?"},
        {"init", "@@:"}}},
      {"SafariExtensionViewController",
       "SFSafariExtensionViewController",
       nullptr,
       {{"initWithNibName:bundle:", "@@:@@"}, {"initWithCoder:", "@@:@"}}},
      {"AppDelegate",
       "NSObject",
       "NSApplicationDelegate",
       {{"applicationDidFinishLaunching:", "v@:@"}, {"applicationWillTerminate:", "v@:@"}}},
      {"ViewController",
       "NSViewController",
       nullptr,
       {{"setPersonalAccessTokenTextField:", "v@:@"},
        {"muteSwitch", "@@:"},
        {"viewDidLoad", "v@:"},
        {"submitPersonalAccessTokenAction:", "v@:@"},
        {"initWithCoder:", "@@:@"}}},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    Class type = cls(shape.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(class_getSuperclass(type), cls(shape.base));
    if (shape.protocol != nullptr) {
      EXPECT_TRUE(class_conformsToProtocol(type, objc_getProtocol(shape.protocol)));
    }
    for (const auto& [selector, types] : shape.methods) {
      Method method = class_getInstanceMethod(type, sel_registerName(selector));
      ASSERT_NE(method, nullptr) << selector;
      std::string encoding = method_getTypeEncoding(method);  // without the frame offsets
      std::erase_if(encoding, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
      EXPECT_EQ(encoding, types) << selector;
    }
  }
  const char* attributes = property_getAttributes(
      class_getProperty(cls("ViewController"), "personalAccessTokenTextField"));
  EXPECT_STREQ(attributes, "T@\"NSTextField\",W,N,V_personalAccessTokenTextField");
}

TEST_F(Layer, PageMessagesAreLoggedOnceThePageAnswersAfterTheHandlerIsGone) {
  struct Case {
    std::optional<std::string> pageUrl;
    bool withUserInfo;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"https://example.com/a%20b", false,
       "(Optional(https://example.com/a%20b)) with userInfo ([:])"},
      {std::nullopt, true,
       "(nil) with userInfo ([\"s\": 100% text, \"n\": 42, \"b\": 1, \"z\": <null>, \"list\": "
       "[1,\"a\"]])"},
  };
  for (const auto& [pageUrl, withUserInfo, line] : cases) {
    platform().script.pageUrl = pageUrl;
    platform().logLines.clear();
    const Owned page(make("SFSafariPage"));
    const Owned name(makeString("hello"));
    const Owned userInfo(
        withUserInfo ? makeDictionary({
                           {makeString("s"), makeString("100% text")},
                           {makeString("n"), makeNumber(42)},
                           {makeString("b"), makeBool(true)},
                           {makeString("z"), make("NSNull")},
                           {makeString("list"), makeArray({makeNumber(1), makeString("a")})},
                       })
                     : nullptr);
    toHandler("messageReceivedWithName:fromPage:userInfo:", name.get(), page.get(), userInfo.get());
    EXPECT_EQ(platform().logLines, Calls{});
    runPending();
    EXPECT_EQ(
        platform().logLines,
        Calls{"The extension received a message (hello) from a script injected into " + line});
  }
  // A collection JSON cannot express is described, never serialised (which would raise).
  platform().logLines.clear();
  const Owned page(make("SFSafariPage"));
  const Owned name(makeString("odd"));
  const Owned userInfo(makeDictionary({{makeString("when"), makeArray({make("NSDate")})}}));
  toHandler("messageReceivedWithName:fromPage:userInfo:", name.get(), page.get(), userInfo.get());
  runPending();
  EXPECT_EQ(platform().logLines,
            Calls{"The extension received a message (odd) from a script injected into (nil) with "
                  "userInfo ([\"when\": <NSArray>])"});
}

TEST_F(Layer, AToolbarClickOpensTheNotificationsPageWhetherOrNotATabComes) {
  for (const bool tabOpens : {true, false}) {
    platform().script.tabOpens = tabOpens;
    const Owned window(make("SFSafariWindow"));
    toHandler("toolbarItemClickedInWindow:", window.get());
    runPending();
  }
  const std::string call =
      "openTabWithURL: https://github.com/notifications makeActiveIfPossible: YES";
  EXPECT_EQ(platform().calls, (Calls{call, call}));
}

TEST_F(Layer, ValidationWithoutATokenDropsTheHandlerUncalled) {
  EXPECT_TRUE(validate().empty());
  EXPECT_EQ(platform().calls, Calls{"dateByAddingUnit: 64 value: -1 options: 0"});
}

TEST_F(Layer, ValidationWhenMutedClearsTheBadgeAtOnce) {
  platform().keychain = {{"personal_access_token", {'t'}}, {"mute_switch", {1}}};
  EXPECT_EQ(validate(), (std::vector<std::pair<bool, std::string>>{{true, ""}}));
}

TEST_F(Layer, ValidationPollsThroughAnInvalidatedSessionOncePerMinute) {
  platform().keychain = {{"personal_access_token", {'t', 'k'}}};
  platform().script.httpBody = R"([{"id":1},{"id":2}])";
  EXPECT_EQ(validate(), (std::vector<std::pair<bool, std::string>>{{true, "2"}}));
  EXPECT_TRUE(validate().empty());  // the last check, kept in user defaults, is too recent
  const Calls network(platform().calls.begin() + 1, platform().calls.begin() + 7);
  EXPECT_EQ(network,
            (Calls{"setRequestCachePolicy: 1", "setURLCache: nil",
                   "setTimeoutIntervalForResource: " +
                       std::to_string(static_cast<int>(kPollLifetimeSeconds)),
                   "dataTaskWithRequest: https://api.github.com/notifications cachePolicy: "
                   "0 timeoutInterval: " +
                       std::to_string(static_cast<int>(kPollTimeoutSeconds)) +
                       " [Authorization: Bearer tk] GET",
                   "resume", "finishTasksAndInvalidate"}));
  EXPECT_EQ(platform().calls.size(), 8U);
}

TEST_F(Layer, NotificationResponsesOpenThePageOnlyForTheirActionsAndAlwaysComplete) {
  const std::string open =
      "openURLs: https://github.com/notifications withAppBundleIdentifier: com.apple.Safari "
      "options: 65536";
  const std::vector<std::pair<id, Calls>> cases = {
      {permanentString("com.apple.UNNotificationDefaultActionIdentifier"), {open}},
      {makeString("show"), {open}},
      {makeString("com.apple.UNNotificationDismissActionIdentifier"), {}},
  };
  for (const auto& [action, expected] : cases) {
    platform().calls.clear();
    const Owned center(make("UNUserNotificationCenter"));
    const Owned response(make("UNNotificationResponse"));
    int completions = 0;
    auto* count = &completions;
    give(response.get(), action);
    toHandler("userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:",
              center.get(), response.get(), ^{
                ++*count;
              });
    EXPECT_EQ(platform().calls, expected);
    EXPECT_EQ(completions, 1);
  }
}

TEST_F(Layer, PresentedNotificationsAreAnsweredWithTheAlertOption) {
  const Owned center(make("UNUserNotificationCenter"));
  const Owned notification(make("UNNotification"));
  apple::NSUInteger options = 0;
  auto* answered = &options;
  toHandler("userNotificationCenter:willPresentNotification:withCompletionHandler:", center.get(),
            notification.get(), ^(apple::NSUInteger given) {
              *answered = given;
            });
  EXPECT_EQ(options, 4U);
}

// The nib name goes on as given, nil included, and a nil from the base comes back as nil.
TEST_F(Layer, BothControllersInitializersHandOnToTheBase) {
  const Owned coder(make("NSCoder"));
  const Owned nib(makeString("Main"));
  for (const char* name : {"SafariExtensionViewController", "ViewController"}) {
    platform().calls.clear();
    for (const bool coderFails : {false, true}) {
      platform().script.coderFails = coderFails;
      const Owned fromCoder(
          toController<id, id>(send(cls(name), "alloc"), "initWithCoder:", coder.get()));
      EXPECT_EQ(fromCoder.get() == nullptr, coderFails) << name;
    }
    for (id nibName : {nib.get(), static_cast<id>(nullptr)}) {
      const Owned fromNib(toController<id, id, id>(send(cls(name), "alloc"),
                                                   "initWithNibName:bundle:", nibName, nullptr));
      EXPECT_NE(fromNib.get(), nullptr) << name;
    }
    EXPECT_EQ(platform().calls, (Calls{"NSViewController initWithCoder: <NSCoder>",
                                       "NSViewController initWithCoder: <NSCoder>",
                                       "NSViewController initWithNibName: Main bundle: nil",
                                       "NSViewController initWithNibName: nil bundle: nil"}))
        << name;
  }
}

TEST_F(Layer, TheApplicationDelegateAnswersLaunchAndTermination) {
  const Owned delegate(send(send(cls("AppDelegate"), "alloc"), "init"));
  toController<void, id>(delegate.get(), "applicationDidFinishLaunching:", nullptr);
  toController<void, id>(delegate.get(), "applicationWillTerminate:", nullptr);
}

// The settings window's life: loaded from the interface file, used, closed.
TEST_F(Layer, TheSettingsControllerFillsSavesAndLetsGoOfItsOutlets) {
  platform().keychain = {{"personal_access_token", {'g', 'h', 'p'}}, {"mute_switch", {1}}};
  const Owned coder(make("NSCoder"));
  Owned controller(
      toController<id, id>(send(cls("ViewController"), "alloc"), "initWithCoder:", coder.get()));
  Owned label(make("NSTextField"));
  Owned field(make("NSTextField"));
  const Owned submit(make("NSButton"));
  const Owned mute(make("NSButton"));
  const std::vector<std::pair<const char*, id>> outlets = {
      {"AppNameLabel", label.get()},
      {"PersonalAccessTokenTextField", field.get()},
      {"SubmitButton", submit.get()},
      {"MuteSwitch", mute.get()}};
  for (const auto& [outlet, control] : outlets) {
    toController<void, id>(controller.get(), ("set" + std::string(outlet) + ":").c_str(), control);
    std::string getter = outlet;
    getter[0] = static_cast<char>(std::tolower(getter[0]));
    EXPECT_EQ(toController<id>(controller.get(), getter.c_str()), control) << getter;
  }
  toController(controller.get(), "viewDidLoad");
  EXPECT_EQ(platform().calls,
            (Calls{"NSViewController initWithCoder: <NSCoder>", "NSTextField setStringValue: ghp",
                   "NSButton setState: 1", "NSViewController viewDidLoad",
                   "NSTextField setStringValue: Tidingsbell", "NSTextField becomeFirstResponder"}));

  send<void, id>(field.get(), "setStringValue:", Owned(makeString(" new ")).get());
  toController<void, id>(controller.get(), "submitPersonalAccessTokenAction:", submit.get());
  EXPECT_EQ(platform().keychain.at("personal_access_token"),
            (std::vector<std::uint8_t>{' ', 'n', 'e', 'w', ' '}));
  for (const auto& [state, saved] : {std::pair{0L, 0}, {-1L, 0}, {1L, 1}}) {
    send<void, apple::NSInteger>(mute.get(), "setState:", state);
    toController<void, id>(controller.get(), "muteValueChange:", mute.get());
    EXPECT_EQ(platform().keychain.at("mute_switch"),
              std::vector<std::uint8_t>{std::uint8_t(saved)});
  }

  platform().calls.clear();
  platform().script.preferencesError = "no Safari";
  testing::internal::CaptureStdout();
  toController<void, id>(controller.get(), "openSafariExtensionPreferences:", submit.get());
  runPending();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "no Safari\n");
  EXPECT_EQ(
      platform().calls,
      (Calls{"dispatch_async to QoS class 25",
             "showPreferencesForExtensionWithIdentifier: com.marblequail.Tidingsbell.Extension"}));

  // The view hierarchy lets the field go: the weak outlet lapses, the strong label stays.
  field = Owned();
  EXPECT_EQ(toController<id>(controller.get(), "personalAccessTokenTextField"), nullptr);
  label = Owned();
  EXPECT_NE(toController<id>(controller.get(), "appNameLabel"), nullptr);
  controller = Owned();  // releases the label
}

// The Foundation calls of the seam, beyond what the entries above reach.
TEST_F(Layer, JsonSummariesAndUrlsComeBackFromFoundation) {
  const apple::AutoreleasePool pool;  // the run loop's, around any call of the layer
  using platform::JsonArraySummary;
  using platform::JsonObjectSummary;
  apple::JsonReader json;
  const auto summary = [&json](std::string text) {
    return json.summarize(platform::Bytes(text.begin(), text.end()));
  };
  EXPECT_EQ(std::get<JsonArraySummary>(summary("[{},{}]")).elementCount, 2U);
  EXPECT_FALSE(std::get<JsonArraySummary>(summary("[{},1]")).everyElementIsObject);
  EXPECT_EQ(std::get<JsonObjectSummary>(summary(R"({"a":1,"b":2})")).distinctKeyCount, 2U);
  EXPECT_EQ(std::get<platform::JsonParseError>(summary("")).localizedDescription,
            "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
  apple::UrlParser urls;
  EXPECT_EQ(urls.urlWithString("https://x.test/a")->absoluteString, "https://x.test/a");
  EXPECT_FALSE(urls.urlWithString(""));
  apple::UserDefaults defaults;
  defaults.setObject(std::int64_t{7}, "n");
  defaults.setObject(std::string("text"), "s");
  EXPECT_EQ(defaults.objectForKey("n"), platform::PropertyListValue(std::int64_t{7}));
  EXPECT_EQ(defaults.objectForKey("s"), platform::PropertyListValue(std::string("text")));
}

}  // namespace
}  // namespace tidingsbell::objc_test
