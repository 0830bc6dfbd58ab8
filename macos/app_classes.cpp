// The host application's run-time classes, registered by a load-time constructor so that they
// exist before the interface file is loaded. Each method converts its arguments into seam
// objects and calls the delegate's C++ entry or the settings window's function that does its job
// (app/ViewController.hpp); the outlets live in the instance variables the interface loader sets,
// the label strong and the other three weak.

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

Class controllerBase() {
  return "NSViewController"_cls;
}

// --- AppDelegate -------------------------------------------------------------------------------

void didFinishLaunching(id /*self*/, SEL /*cmd*/, id /*notification*/) {
  AppDelegate(appPlatform()).applicationDidFinishLaunching();
}

void willTerminate(id /*self*/, SEL /*cmd*/, id /*notification*/) {
  AppDelegate(appPlatform()).applicationWillTerminate();
}

// --- ViewController ----------------------------------------------------------------------------

id* slot(id self, const char* ivarName) {
  Ivar ivar = class_getInstanceVariable("ViewController"_cls, ivarName);
  return reinterpret_cast<id*>(reinterpret_cast<char*>(self) + ivar_getOffset(ivar));
}

// A weak outlet's control, retained for the length of a call (nil once the control is gone).
Owned loadWeak(id self, const char* ivarName) {
  return Owned::adopt(objc_loadWeakRetained(slot(self, ivarName)));
}

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
  *strong = label != nullptr ? send(label, "retain"_sel) : nullptr;
  if (old != nullptr) send<void>(old, "release"_sel);
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
  sendSuper<void>(self, controllerBase(), "viewDidLoad"_sel);
  id label = *slot(self, "_appNameLabel");
  const Owned field = loadWeak(self, "_personalAccessTokenTextField");
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
  const Owned field = loadWeak(self, "_personalAccessTokenTextField");
  const TextField seamField(field.get());
  saveTokenFromField(appPlatform(), field.get() != nullptr ? &seamField : nullptr);
}

void muteValueChange(id /*self*/, SEL /*cmd*/, id sender) {
  const Button seamSender(sender);
  saveMuteSwitch(appPlatform(), sender != nullptr ? &seamSender : nullptr);
}

id initWithNibName(id self, SEL /*cmd*/, id nibName, id bundle) {
  requireMainThread(appPlatform(), "ViewController initWithNibName:bundle:");
  return sendSuper<id, id, id>(self, controllerBase(), "initWithNibName:bundle:"_sel, nibName,
                               bundle);
}

id initWithCoder(id self, SEL /*cmd*/, id coder) {
  requireMainThread(appPlatform(), "ViewController initWithCoder:");
  return sendSuper<id, id>(self, controllerBase(), "initWithCoder:"_sel, coder);
}

// The runtime frees the instance but not what its variables hold: the strong label keeps a
// reference until released here, and a weak slot stays in the runtime's weak table, to be zeroed
// in freed memory when its control goes, unless it is destroyed here.
void controllerDealloc(id self, SEL /*cmd*/) {
  id* label = slot(self, "_appNameLabel");
  if (*label != nullptr) send<void>(*label, "release"_sel);
  *label = nullptr;
  objc_destroyWeak(slot(self, "_personalAccessTokenTextField"));
  objc_destroyWeak(slot(self, "_submitButton"));
  objc_destroyWeak(slot(self, "_muteSwitch"));
  sendSuper<void>(self, controllerBase(), "dealloc"_sel);
}

// --- Registration ------------------------------------------------------------------------------

void addOutlet(Class target, const char* property, const char* ivarName, const char* type,
               bool weak) {
  class_addIvar(target, ivarName, sizeof(id), alignof(id) == 8 ? 3 : 2, type);
  const objc_property_attribute_t attributes[] = {
      {"T", type}, {weak ? "W" : "&", ""}, {"N", ""}, {"V", ivarName}};
  class_addProperty(target, property, attributes, 4);
}

__attribute__((constructor)) void registerApplicationClasses() {
  Class delegate = objc_allocateClassPair("NSObject"_cls, "AppDelegate", 0);
  if (delegate != nullptr) {
    if (Protocol* protocol = objc_getProtocol("NSApplicationDelegate")) {
      class_addProtocol(delegate, protocol);
    }
    addMethod(delegate, "applicationDidFinishLaunching:", &didFinishLaunching);
    addMethod(delegate, "applicationWillTerminate:", &willTerminate);
    objc_registerClassPair(delegate);
  }

  Class base = controllerBase();
  Class controller = base != nullptr ? objc_allocateClassPair(base, "ViewController", 0) : nullptr;
  if (controller == nullptr) return;
  addOutlet(controller, "appNameLabel", "_appNameLabel", "@\"NSTextField\"", false);
  addOutlet(controller, "personalAccessTokenTextField", "_personalAccessTokenTextField",
            "@\"NSTextField\"", true);
  addOutlet(controller, "submitButton", "_submitButton", "@\"NSButton\"", true);
  addOutlet(controller, "muteSwitch", "_muteSwitch", "@\"NSButton\"", true);
  addMethod(controller, "appNameLabel", &appNameLabel);
  addMethod(controller, "setAppNameLabel:", &setAppNameLabel);
  addMethod(controller, "personalAccessTokenTextField", &personalAccessTokenTextField);
  addMethod(controller, "setPersonalAccessTokenTextField:", &setPersonalAccessTokenTextField);
  addMethod(controller, "submitButton", &submitButton);
  addMethod(controller, "setSubmitButton:", &setSubmitButton);
  addMethod(controller, "muteSwitch", &muteSwitch);
  addMethod(controller, "setMuteSwitch:", &setMuteSwitch);
  addMethod(controller, "viewDidLoad", &viewDidLoad);
  addMethod(controller, "openSafariExtensionPreferences:", &openSafariExtensionPreferences);
  addMethod(controller, "submitPersonalAccessTokenAction:", &submitPersonalAccessTokenAction);
  addMethod(controller, "muteValueChange:", &muteValueChange);
  addMethod(controller, "initWithNibName:bundle:", &initWithNibName);
  addMethod(controller, "initWithCoder:", &initWithCoder);
  addMethod(controller, "dealloc", &controllerDealloc);
  objc_registerClassPair(controller);
}

}  // namespace
}  // namespace tidingsbell::macos

int main(int argc, char* argv[]) {
  std::exit(NSApplicationMain(argc, const_cast<const char**>(argv)));
}
