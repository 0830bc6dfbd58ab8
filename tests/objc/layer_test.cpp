// The macOS layer driven as Safari, UserNotifications, the interface loader and AppKit drive it:
// every registered method sent by name, what reaches the platform checked, and after each test
// (and each case of a table) a balance sheet: every object released exactly once, every copied
// block released.

#include <gtest/gtest.h>

#include <array>

#include "extension/PollNotifications.hpp"
#include "platform/apple/apple_platform.hpp"
#include "shared/SettingsStore.hpp"
#include "tests/objc/standins.hpp"

namespace tidingsbell::objc_test {
namespace {

using apple::cls;
using apple::Owned;
using apple::send;
using Calls = std::vector<std::string>;
using Badges = std::vector<std::pair<bool, std::string>>;

id text(const char* value) {
  return make("NSString", value);
}

class Layer : public testing::Test {
 protected:
  void TearDown() override { balance(); }

  static void balance() {
    const BalanceSheet sheet = settle();
    EXPECT_EQ(sheet.survivors, Calls{}) << "objects never released";
    EXPECT_EQ(sheet.allocations + sheet.retains, sheet.releases);
    EXPECT_EQ(sheet.allocations, sheet.deallocations);
    EXPECT_EQ(sheet.blockCopies, sheet.blockReleases) << "copied blocks never released";
  }

  // A send as the platform makes it, within one turn of the run loop, to a method registered
  // with the types the platform's declaration gives.
  template <typename R = void, typename... Args>
  static R to(id receiver, const char* selector, Args... args) {
    Method method = class_getInstanceMethod(object_getClass(receiver), sel_registerName(selector));
    std::string types = method != nullptr ? method_getTypeEncoding(method) : "";
    std::erase_if(types, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    EXPECT_EQ(types, (apple::typeEncoding<R, id, SEL, Args...>().data())) << selector;
    const apple::AutoreleasePool pool;
    return send<R, Args...>(receiver, selector, args...);
  }
  static id made(const char* className) { return to<id>(send(cls(className), "alloc"), "init"); }

  // Safari and UserNotifications make a handler for each event and release it right after.
  template <typename... Args>
  static void toHandler(const char* selector, Args... args) {
    const Owned handler(made("SafariExtensionHandler"));
    to<void, Args...>(handler.get(), selector, args...);
  }
};

// The bases and protocols the frameworks look for; each method's types are checked as it is sent.
TEST_F(Layer, ClassesAreRegisteredWithTheirBasesAndProtocols) {
  const std::vector<std::array<const char*, 3>> shapes = {
      {"SafariExtensionHandler", "SFSafariExtensionHandler", "UNUserNotificationCenterDelegate"},
      {"SafariExtensionViewController", "SFSafariExtensionViewController", nullptr},
      {"AppDelegate", "NSObject", "NSApplicationDelegate"},
      {"ViewController", "NSViewController", nullptr}};
  for (const auto& [name, base, protocol] : shapes) {
    EXPECT_EQ(class_getSuperclass(cls(name)), cls(base)) << name;
    EXPECT_TRUE(protocol == nullptr ||
                class_conformsToProtocol(cls(name), objc_getProtocol(protocol)))
        << name;
  }
}

// Logged once the page answers, after the handler is gone; a collection JSON cannot express is
// described, never serialised (which would raise).
TEST_F(Layer, PageMessagesAreLoggedOnceThePageAnswers) {
  const std::vector<std::tuple<std::optional<std::string>, id, std::string>> cases = {
      {"https://example.com/a%20b", nullptr,
       "(Optional(https://example.com/a%20b)) with userInfo ([:])"},
      {std::nullopt,
       make("NSDictionary", "",
            {text("s"), text("100% text"), text("n"), make("NSNumber", "42"), text("b"),
             make("__NSCFBoolean", "1"), text("z"), make("NSNull"), text("list"),
             make("NSArray", R"([1,"a"])", {make("NSNumber", "1"), text("a")}), text("when"),
             make("NSArray", "", {make("NSDate")})}),
       R"((nil) with userInfo (["s": 100% text, "n": 42, "b": 1, "z": <null>, )"
       R"("list": [1,"a"], "when": <NSArray>]))"},
  };
  for (const auto& [pageUrl, userInfo, line] : cases) {
    platform().script.pageUrl = pageUrl;
    const Owned page(make("SFSafariPage")), name(text("hello")), info(userInfo);
    toHandler("messageReceivedWithName:fromPage:userInfo:", name.get(), page.get(), info.get());
    EXPECT_EQ(platform().logLines, Calls{});
    runPending();
    EXPECT_EQ(
        platform().logLines,
        Calls{"The extension received a message (hello) from a script injected into " + line});
    platform().logLines.clear();
  }
}

TEST_F(Layer, AToolbarClickOpensTheNotificationsPageWhetherOrNotATabComes) {
  for (const bool tabOpens : {true, false}) {
    platform().script.tabOpens = tabOpens;
    const Owned window(make("SFSafariWindow"));
    toHandler("toolbarItemClickedInWindow:", window.get());
    runPending();
  }
  const std::string call =
      "SFSafariWindow openTabWithURL:makeActiveIfPossible:completionHandler: "
      "https://github.com/notifications 1";
  EXPECT_EQ(platform().calls, (Calls{call, call}));
}

// One poll a minute, through a session invalidated once its task is done.
TEST_F(Layer, ValidationPollsOncePerMinute) {
  platform().keychain = {{"personal_access_token", {'t', 'k'}}};
  platform().script.httpBody = "[{},{}]";
  Badges answers;
  for (int event = 0; event < 2; ++event) {  // the second finds the last check too recent
    auto* seen = &answers;
    const Owned window(make("SFSafariWindow"));
    toHandler("validateToolbarItemInWindow:validationHandler:", window.get(),
              ^(BOOL enabled, id badge) {
                seen->emplace_back(enabled != NO, textOf(badge));
              });
    runPending();
  }
  EXPECT_EQ(answers, (Badges{{true, "2"}}));
  const std::string minuteEarlier =
      "NSCalendar dateByAddingUnit:value:toDate:options: 64 -1 1800000000.000000 0";
  EXPECT_EQ(platform().calls,
            (Calls{minuteEarlier, "NSURLSessionConfiguration setRequestCachePolicy: 1",
                   "NSURLSessionConfiguration setURLCache: nil",
                   "NSURLSessionConfiguration setTimeoutIntervalForResource: " +
                       std::to_string(static_cast<int>(kPollLifetimeSeconds)),
                   "NSURLSession dataTaskWithRequest:completionHandler: "
                   "https://api.github.com/notifications 0 " +
                       std::to_string(static_cast<int>(kPollTimeoutSeconds)) +
                       " [Authorization: Bearer tk] GET",
                   "NSURLSessionDataTask resume", "NSURLSession finishTasksAndInvalidate",
                   minuteEarlier}));
}

// The settings through Security and CoreFoundation: a save adds the item, and updates its value
// in place when the add finds it there; every dictionary reaching SecItem is checked entry by
// entry.
TEST_F(Layer, TheKeychainAddsThenUpdatesAndReadsBackTheSettings) {
  apple::Keychain keychain;
  const SettingsStore settings(keychain);
  EXPECT_TRUE(settings.saveToken("first"));
  EXPECT_TRUE(settings.saveToken("second"));
  EXPECT_EQ(settings.readToken(), "second");
  EXPECT_TRUE(settings.saveMuteFlag(true));
  EXPECT_TRUE(settings.saveMuteFlag(false));
  EXPECT_EQ(platform().keychain.at("mute_switch"), std::vector<std::uint8_t>{0});
  EXPECT_EQ(settings.readMuteFlag(), false);
}

TEST_F(Layer, NotificationResponsesOpenThePageAndComplete) {
  const Calls open = {
      "NSWorkspace "
      "openURLs:withAppBundleIdentifier:options:additionalEventParamDescriptor:launchIdentifiers: "
      "https://github.com/notifications, com.apple.Safari 65536 nil 0"};
  const std::vector<std::pair<id, Calls>> cases = {
      {permanentString("com.apple.UNNotificationDefaultActionIdentifier"), open},
      {text("show"), open},
  };
  for (const auto& [action, expected] : cases) {
    const Owned center(make("UNUserNotificationCenter"));
    const Owned response(make("UNNotificationResponse", "", {action}));
    int completions = 0;
    auto* count = &completions;
    toHandler("userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:",
              center.get(), response.get(), ^{
                ++*count;
              });
    EXPECT_EQ(platform().calls, expected);
    EXPECT_EQ(completions, 1);
    platform().calls.clear();
  }
  const Owned center(make("UNUserNotificationCenter")), notification(make("UNNotification"));
  apple::NSUInteger options = 0;
  auto* answered = &options;
  toHandler("userNotificationCenter:willPresentNotification:withCompletionHandler:", center.get(),
            notification.get(), ^(apple::NSUInteger given) {
              *answered = given;
            });
  EXPECT_EQ(options, 4U) << "the alert option";
}

// The loader's makings: the nib name goes on as given, nil included, and a nil from the base
// comes back as nil; the application delegate answers launch and termination.
TEST_F(Layer, TheControllersAndTheApplicationDelegateAreMadeAsTheLoaderMakesThem) {
  const Owned coder(make("NSCoder")), nib(text("Main"));
  for (const char* name : {"SafariExtensionViewController", "ViewController"}) {
    for (const bool coderFails : {false, true}) {
      platform().script.coderFails = coderFails;
      const Owned made(to<id, id>(send(cls(name), "alloc"), "initWithCoder:", coder.get()));
      EXPECT_EQ(made.get() == nullptr, coderFails) << name;
    }
    for (id nibName : {nib.get(), static_cast<id>(nullptr)}) {
      const Owned made(
          to<id, id, id>(send(cls(name), "alloc"), "initWithNibName:bundle:", nibName, nullptr));
      EXPECT_NE(made.get(), nullptr) << name;
    }
    const std::string prefix = std::string(name) + " init";
    EXPECT_EQ(
        platform().calls,
        (Calls{prefix + "WithCoder: <NSCoder>", prefix + "WithCoder: <NSCoder>",
               prefix + "WithNibName:bundle: Main nil", prefix + "WithNibName:bundle: nil nil"}));
    platform().calls.clear();
  }
  const Owned delegate(made("AppDelegate"));  // the application's, answering launch and end
  to<void, id>(delegate.get(), "applicationDidFinishLaunching:", nullptr);
  to<void, id>(delegate.get(), "applicationWillTerminate:", nullptr);
}

// The settings window's life: loaded from the interface file, used, closed.
TEST_F(Layer, TheSettingsControllerFillsSavesAndLetsGoOfItsOutlets) {
  platform().keychain = {{"personal_access_token", {'g', 'h', 'p'}}, {"mute_switch", {1}}};
  const Owned coder(make("NSCoder"));
  Owned controller(to<id, id>(send(cls("ViewController"), "alloc"), "initWithCoder:", coder.get()));
  Owned label(make("NSTextField")), field(make("NSTextField"));
  const Owned submit(make("NSButton")), mute(make("NSButton"));
  const std::vector<std::pair<std::string, id>> outlets = {
      {"AppNameLabel", label.get()},
      {"PersonalAccessTokenTextField", field.get()},
      {"SubmitButton", submit.get()},
      {"MuteSwitch", mute.get()}};
  for (auto [outlet, control] : outlets) {
    to<void, id>(controller.get(), ("set" + outlet + ":").c_str(), control);
    outlet[0] = static_cast<char>(std::tolower(outlet[0]));
    EXPECT_EQ(to<id>(controller.get(), outlet.c_str()), control) << outlet;
  }
  to(controller.get(), "viewDidLoad");
  EXPECT_EQ(platform().calls,
            (Calls{"ViewController initWithCoder: <NSCoder>", "NSTextField setStringValue: ghp",
                   "NSButton setState: 1", "ViewController viewDidLoad",
                   "NSTextField setStringValue: Tidingsbell", "NSTextField becomeFirstResponder"}));

  send<void, id>(field.get(), "setStringValue:", Owned(text(" new ")).get());
  to<void, id>(controller.get(), "submitPersonalAccessTokenAction:", submit.get());
  EXPECT_EQ(platform().keychain.at("personal_access_token"),
            (std::vector<std::uint8_t>{' ', 'n', 'e', 'w', ' '}));
  send<void, apple::NSInteger>(mute.get(), "setState:", 0);
  to<void, id>(controller.get(), "muteValueChange:", mute.get());
  EXPECT_EQ(platform().keychain.at("mute_switch"), std::vector<std::uint8_t>{0});

  platform().calls.clear();
  platform().script.preferencesError = "no Safari";
  testing::internal::CaptureStdout();
  to<void, id>(controller.get(), "openSafariExtensionPreferences:", submit.get());
  runPending();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "no Safari\n");
  EXPECT_EQ(
      platform().calls,
      (Calls{"dispatch_async to QoS class 25",
             "SFSafariApplication showPreferencesForExtensionWithIdentifier:completionHandler: "
             "com.marblequail.Tidingsbell.Extension"}));

  // The view hierarchy lets the field go: the weak outlet lapses, the strong label stays.
  field = Owned();
  EXPECT_EQ(to<id>(controller.get(), "personalAccessTokenTextField"), nullptr);
  label = Owned();
  EXPECT_NE(to<id>(controller.get(), "appNameLabel"), nullptr);
  controller = Owned();  // releases the label
}

// The Foundation calls of the seam, beyond what the entries above reach.
TEST_F(Layer, JsonSummariesUrlsAndDefaultsComeBackFromFoundation) {
  const apple::AutoreleasePool pool;  // the run loop's, around any call of the layer
  apple::JsonReader json;
  const auto summary = [&json](std::string bytes) {
    return json.summarize(platform::Bytes(bytes.begin(), bytes.end()));
  };
  EXPECT_EQ(std::get<platform::JsonArraySummary>(summary("[{},{}]")).elementCount, 2U);
  EXPECT_FALSE(std::get<platform::JsonArraySummary>(summary("[{},1]")).everyElementIsObject);
  EXPECT_EQ(std::get<platform::JsonObjectSummary>(summary(R"({"a":1,"b":2})")).distinctKeyCount,
            2U);
  EXPECT_EQ(std::get<platform::JsonParseError>(summary("")).localizedDescription, "not JSON");
  apple::UrlParser urls;
  EXPECT_EQ(urls.urlWithString("https://x.test/a")->absoluteString, "https://x.test/a");
  EXPECT_FALSE(urls.urlWithString(""));
  // A value another program wrote under a key: read as what it is, never as a date.
  const Owned number(make("NSNumber", "7")), key(text("n"));
  send<void, id, id>(send(cls("NSUserDefaults"), "standardUserDefaults"),
                     "setObject:forKey:", number.get(), key.get());
  EXPECT_EQ(apple::UserDefaults().objectForKey("n"), platform::PropertyListValue(std::int64_t{7}));
}

}  // namespace
}  // namespace tidingsbell::objc_test
