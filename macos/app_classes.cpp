// The host application's run-time classes, registered by a load-time constructor so that they
// exist before the interface file is loaded. Each method converts its arguments into seam
// objects and calls the C++ entry of the same name; the outlets live in the instance variables
// the interface loader sets, the label strong and the other three weak.

#include <cstdlib>

#include "app/AppDelegate.hpp"
#include "app/ViewController.hpp"
#include "macos/platforms.hpp"
#include "platform/apple/apple_platform.hpp"

// AppKit's application entry point, declared in an Objective-C header.
extern "C" int NSApplicationMain(int argc, const char* argv[]);

namespace tidingsbell::macos {
namespace {

using namespace apple;

constexpr const char* kControllerName = "ViewController";
constexpr const char* kControllerBase = "NSViewController";

// --- AppDelegate -------------------------------------------------------------------------------

void didFinishLaunching(id /*self*/, SEL /*cmd*/, id /*notification*/) {
  AppDelegate(appPlatform()).applicationDidFinishLaunching();
}

void willTerminate(id /*self*/, SEL /*cmd*/, id /*notification*/) {
  AppDelegate(appPlatform()).applicationWillTerminate();
}

id delegateInit(id self, SEL /*cmd*/) {
  return sendSuper(self, cls("NSObject"), "init");
}

// --- ViewController ----------------------------------------------------------------------------

id* slot(id self, const char* ivarName) {
  Ivar ivar = class_getInstanceVariable(cls(kControllerName), ivarName);
  return reinterpret_cast<id*>(reinterpret_cast<char*>(self) + ivar_getOffset(ivar));
}

// A weak outlet's control, retained for the length of a call (nil once the control is gone).
class LoadedWeak {
 public:
  explicit LoadedWeak(id* weakSlot) : object_(objc_loadWeakRetained(weakSlot)) {}
  LoadedWeak(const LoadedWeak&) = delete;
  LoadedWeak& operator=(const LoadedWeak&) = delete;
  ~LoadedWeak() {
    if (object_ != nullptr) send<void>(object_, "release");
  }
  [[nodiscard]] id get() const { return object_; }

 private:
  id object_;
};

void check(const char* entry) {
  requireMainThread(appPlatform(), entry);
}

id weakGetter(id self, const char* ivarName, const char* entry) {
  check(entry);
  return objc_autorelease(objc_loadWeakRetained(slot(self, ivarName)));
}

id appNameLabel(id self, SEL /*cmd*/) {
  check("ViewController appNameLabel");
  return *slot(self, "_appNameLabel");
}

void setAppNameLabel(id self, SEL /*cmd*/, id label) {
  check("ViewController setAppNameLabel:");
  id* strong = slot(self, "_appNameLabel");
  id old = *strong;
  *strong = label != nullptr ? send(label, "retain") : nullptr;
  if (old != nullptr) send<void>(old, "release");
}

id personalAccessTokenTextField(id self, SEL /*cmd*/) {
  return weakGetter(self, "_personalAccessTokenTextField",
                    "ViewController personalAccessTokenTextField");
}

void setPersonalAccessTokenTextField(id self, SEL /*cmd*/, id field) {
  check("ViewController setPersonalAccessTokenTextField:");
  objc_storeWeak(slot(self, "_personalAccessTokenTextField"), field);
  TextField seamField(field);
  showStoredToken(appPlatform(), field != nullptr ? &seamField : nullptr);
}

id submitButton(id self, SEL /*cmd*/) {
  return weakGetter(self, "_submitButton", "ViewController submitButton");
}

void setSubmitButton(id self, SEL /*cmd*/, id button) {
  check("ViewController setSubmitButton:");
  objc_storeWeak(slot(self, "_submitButton"), button);
}

id muteSwitch(id self, SEL /*cmd*/) {
  return weakGetter(self, "_muteSwitch", "ViewController muteSwitch");
}

void setMuteSwitch(id self, SEL /*cmd*/, id button) {
  check("ViewController setMuteSwitch:");
  objc_storeWeak(slot(self, "_muteSwitch"), button);
  Button seamButton(button);
  showStoredMuteFlag(appPlatform(), button != nullptr ? &seamButton : nullptr);
}

void viewDidLoad(id self, SEL /*cmd*/) {
  check("ViewController viewDidLoad");
  sendSuper<void>(self, cls(kControllerBase), "viewDidLoad");
  id label = *slot(self, "_appNameLabel");
  const LoadedWeak field(slot(self, "_personalAccessTokenTextField"));
  TextField seamLabel(label);
  TextField seamField(field.get());
  showAppNameAndFocusToken(appPlatform(), label != nullptr ? &seamLabel : nullptr,
                           field.get() != nullptr ? &seamField : nullptr);
}

void openSafariExtensionPreferences(id /*self*/, SEL /*cmd*/, id /*sender*/) {
  askSafariForPreferences(appPlatform());
}

void submitPersonalAccessTokenAction(id self, SEL /*cmd*/, id /*sender*/) {
  check("ViewController submitPersonalAccessTokenAction:");
  const LoadedWeak field(slot(self, "_personalAccessTokenTextField"));
  const TextField seamField(field.get());
  saveTokenFromField(appPlatform(), field.get() != nullptr ? &seamField : nullptr);
}

void muteValueChange(id /*self*/, SEL /*cmd*/, id sender) {
  const Button seamSender(sender);
  saveMuteSwitch(appPlatform(), sender != nullptr ? &seamSender : nullptr);
}

void emptyOutlets(id self) {
  setAppNameLabel(self, nullptr, nullptr);
  objc_storeWeak(slot(self, "_personalAccessTokenTextField"), nullptr);
  objc_storeWeak(slot(self, "_submitButton"), nullptr);
  objc_storeWeak(slot(self, "_muteSwitch"), nullptr);
}

id initWithNibName(id self, SEL /*cmd*/, id nibName, id bundle) {
  requireMainThread(appPlatform(), "ViewController initWithNibName:bundle:");
  emptyOutlets(self);
  return sendSuper<id, id, id>(self, cls(kControllerBase), "initWithNibName:bundle:", nibName,
                               bundle);
}

id initWithCoder(id self, SEL /*cmd*/, id coder) {
  requireMainThread(appPlatform(), "ViewController initWithCoder:");
  emptyOutlets(self);
  return sendSuper<id, id>(self, cls(kControllerBase), "initWithCoder:", coder);
}

void controllerDealloc(id self, SEL /*cmd*/) {
  id* label = slot(self, "_appNameLabel");
  if (*label != nullptr) send<void>(*label, "release");
  *label = nullptr;
  objc_destroyWeak(slot(self, "_personalAccessTokenTextField"));
  objc_destroyWeak(slot(self, "_submitButton"));
  objc_destroyWeak(slot(self, "_muteSwitch"));
  sendSuper<void>(self, cls(kControllerBase), "dealloc");
}

// --- Registration ------------------------------------------------------------------------------

template <typename Function>
void addMethod(Class target, const char* selector, Function function, const char* types) {
  class_addMethod(target, sel(selector), reinterpret_cast<IMP>(function), types);
}

void addOutlet(Class target, const char* property, const char* ivarName, const char* type,
               bool weak) {
  class_addIvar(target, ivarName, sizeof(id), alignof(id) == 8 ? 3 : 2, type);
  const objc_property_attribute_t attributes[] = {
      {"T", type}, {weak ? "W" : "&", ""}, {"N", ""}, {"V", ivarName}};
  class_addProperty(target, property, attributes, 4);
}

__attribute__((constructor)) void registerApplicationClasses() {
  Class delegate = objc_allocateClassPair(cls("NSObject"), "AppDelegate", 0);
  if (delegate != nullptr) {
    if (Protocol* protocol = objc_getProtocol("NSApplicationDelegate")) {
      class_addProtocol(delegate, protocol);
    }
    addMethod(delegate, "applicationDidFinishLaunching:", &didFinishLaunching, "v@:@");
    addMethod(delegate, "applicationWillTerminate:", &willTerminate, "v@:@");
    addMethod(delegate, "init", &delegateInit, "@@:");
    objc_registerClassPair(delegate);
  }

  Class base = cls(kControllerBase);
  Class controller = base != nullptr ? objc_allocateClassPair(base, kControllerName, 0) : nullptr;
  if (controller == nullptr) return;
  addOutlet(controller, "appNameLabel", "_appNameLabel", "@\"NSTextField\"", false);
  addOutlet(controller, "personalAccessTokenTextField", "_personalAccessTokenTextField",
            "@\"NSTextField\"", true);
  addOutlet(controller, "submitButton", "_submitButton", "@\"NSButton\"", true);
  addOutlet(controller, "muteSwitch", "_muteSwitch", "@\"NSButton\"", true);
  addMethod(controller, "appNameLabel", &appNameLabel, "@@:");
  addMethod(controller, "setAppNameLabel:", &setAppNameLabel, "v@:@");
  addMethod(controller, "personalAccessTokenTextField", &personalAccessTokenTextField, "@@:");
  addMethod(controller, "setPersonalAccessTokenTextField:", &setPersonalAccessTokenTextField,
            "v@:@");
  addMethod(controller, "submitButton", &submitButton, "@@:");
  addMethod(controller, "setSubmitButton:", &setSubmitButton, "v@:@");
  addMethod(controller, "muteSwitch", &muteSwitch, "@@:");
  addMethod(controller, "setMuteSwitch:", &setMuteSwitch, "v@:@");
  addMethod(controller, "viewDidLoad", &viewDidLoad, "v@:");
  addMethod(controller, "openSafariExtensionPreferences:", &openSafariExtensionPreferences, "v@:@");
  addMethod(controller, "submitPersonalAccessTokenAction:", &submitPersonalAccessTokenAction,
            "v@:@");
  addMethod(controller, "muteValueChange:", &muteValueChange, "v@:@");
  addMethod(controller, "initWithNibName:bundle:", &initWithNibName, "@@:@@");
  addMethod(controller, "initWithCoder:", &initWithCoder, "@@:@");
  addMethod(controller, "dealloc", &controllerDealloc, "v@:");
  objc_registerClassPair(controller);
}

}  // namespace
}  // namespace tidingsbell::macos

int main(int argc, char* argv[]) {
  std::exit(NSApplicationMain(argc, const_cast<const char**>(argv)));
}
