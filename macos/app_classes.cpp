// The host application's run-time classes, registered by a load-time constructor so that they
// exist before the interface file is loaded. Each method converts its arguments into seam
// objects and calls the C++ entry that does its job: the delegate's, or that of the instance's
// controller (app/ViewController.hpp), which holds the outlets as the handles made here, the
// label strong and the other three weak.

#include <cstdlib>
#include <memory>
#include <utility>

#include "app/AppDelegate.hpp"
#include "app/ViewController.hpp"
#include "macos/platforms.hpp"
#include "platform/apple/apple_platform.hpp"

// AppKit's application entry point, declared in an Objective-C header.
extern "C" int NSApplicationMain(int argc, const char* argv[]);

namespace tidingsbell::macos {
namespace {

using namespace apple;
using Controller = tidingsbell::ViewController;

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

// The instance's controller, made by its initializer and deleted by its dealloc.
Controller*& controllerSlot(id self) {
  Ivar ivar = class_getInstanceVariable("ViewController"_cls, "_controller");
  return *reinterpret_cast<Controller**>(reinterpret_cast<char*>(self) + ivar_getOffset(ivar));
}

Controller& controller(id self) {
  return *controllerSlot(self);
}

// A getter's answer: the caller's to use until the pool drains, as a property's getter returns it.
// Every control an outlet here loads is the wrapper that its handle (controls.cpp) made.
template <typename Wrapper, typename Control>
id returned(const std::shared_ptr<Control>& control) {
  if (control == nullptr) return nullptr;
  return objc_autorelease(retainReference(static_cast<const Wrapper&>(*control).object()));
}

id appNameLabel(id self, SEL /*cmd*/) {
  return returned<TextField>(controller(self).appNameLabel());
}

void setAppNameLabel(id self, SEL /*cmd*/, id label) {
  controller(self).setAppNameLabel(textFieldOutlet(label, Strength::Strong));
}

id personalAccessTokenTextField(id self, SEL /*cmd*/) {
  return returned<TextField>(controller(self).personalAccessTokenTextField());
}

void setPersonalAccessTokenTextField(id self, SEL /*cmd*/, id field) {
  controller(self).setPersonalAccessTokenTextField(textFieldOutlet(field, Strength::Weak));
}

id submitButton(id self, SEL /*cmd*/) {
  return returned<Button>(controller(self).submitButton());
}

void setSubmitButton(id self, SEL /*cmd*/, id button) {
  controller(self).setSubmitButton(buttonOutlet(button, Strength::Weak));
}

id muteSwitch(id self, SEL /*cmd*/) {
  return returned<Button>(controller(self).muteSwitch());
}

void setMuteSwitch(id self, SEL /*cmd*/, id button) {
  controller(self).setMuteSwitch(buttonOutlet(button, Strength::Weak));
}

void viewDidLoad(id self, SEL /*cmd*/) {
  controller(self).viewDidLoad(
      [self] { sendSuper<void>(self, controllerBase(), "viewDidLoad"_sel); });
}

void openSafariExtensionPreferences(id self, SEL /*cmd*/, id /*sender*/) {
  controller(self).openSafariExtensionPreferences();
}

void submitPersonalAccessTokenAction(id self, SEL /*cmd*/, id /*sender*/) {
  controller(self).submitPersonalAccessTokenAction();
}

void muteValueChange(id self, SEL /*cmd*/, id sender) {
  const Button seamSender(sender);
  controller(self).muteValueChange(sender != nullptr ? &seamSender : nullptr);
}

// The controller is made before the base's work, so that its main-thread check comes first and
// an outlet the base connects has a home; a base that fails releases the instance, and dealloc
// deletes the controller.
void makeController(id self, Controller::Initializer initializer) {
  delete std::exchange(controllerSlot(self), new Controller(appPlatform(), initializer));
}

// An initializer may answer another object than the one it was sent to: one of this class that
// has no controller yet gets its own, so that no instance is ever left without one.
id initialized(id answer, Controller::Initializer initializer) {
  if (answer != nullptr && object_getClass(answer) == "ViewController"_cls &&
      controllerSlot(answer) == nullptr) {
    makeController(answer, initializer);
  }
  return answer;
}

id initWithNibName(id self, SEL /*cmd*/, id nibName, id bundle) {
  makeController(self, Controller::Initializer::NibName);
  return initialized(
      sendSuper<id, id, id>(self, controllerBase(), "initWithNibName:bundle:"_sel, nibName, bundle),
      Controller::Initializer::NibName);
}

id initWithCoder(id self, SEL /*cmd*/, id coder) {
  makeController(self, Controller::Initializer::Coder);
  return initialized(sendSuper<id, id>(self, controllerBase(), "initWithCoder:"_sel, coder),
                     Controller::Initializer::Coder);
}

// The runtime frees the instance but not the controller: deleting it releases the label and
// takes the weak slots out of the runtime's weak table, where they would otherwise be zeroed in
// freed memory when their controls go.
void controllerDealloc(id self, SEL /*cmd*/) {
  delete std::exchange(controllerSlot(self), nullptr);
  sendSuper<void>(self, controllerBase(), "dealloc"_sel);
}

// --- Registration ------------------------------------------------------------------------------

// Metadata only: the accessors above keep the outlets, in the instance's controller.
void addOutlet(Class target, const char* property, const char* type, bool weak) {
  const objc_property_attribute_t attributes[] = {{"T", type}, {weak ? "W" : "&", ""}, {"N", ""}};
  class_addProperty(target, property, attributes, 3);
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
  class_addIvar(controller, "_controller", sizeof(void*), alignof(void*) == 8 ? 3 : 2, "^v");
  addOutlet(controller, "appNameLabel", "@\"NSTextField\"", false);
  addOutlet(controller, "personalAccessTokenTextField", "@\"NSTextField\"", true);
  addOutlet(controller, "submitButton", "@\"NSButton\"", true);
  addOutlet(controller, "muteSwitch", "@\"NSButton\"", true);
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
