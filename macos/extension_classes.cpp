// The extension's run-time classes. Each method converts its arguments into seam objects and
// calls the C++ entry of the same name; nothing else happens here. The extension has no main:
// the linker's entry point is NSExtensionMain itself, and these classes are registered by a
// load-time constructor, before the extension point looks up the principal class.

#include "extension/SafariExtensionHandler.hpp"
#include "macos/platforms.hpp"
#include "platform/apple/apple_platform.hpp"

// Foundation's extension entry point: exported, declared in no public header.
extern "C" int NSExtensionMain(int argc, char* argv[]);

namespace tidingsbell::macos {
namespace {

using namespace apple;

using ValidationBlock = void (^)(BOOL, id);
using CompletionBlock = void (^)(void);
using PresentationBlock = void (^)(NSUInteger);

SafariExtensionHandler entries() {
  return SafariExtensionHandler(extensionPlatform());
}

void messageReceived(id /*self*/, SEL /*cmd*/, id name, id page, id userInfo) {
  SafariPage safariPage(page);
  entries().messageReceivedWithName(toString(name).value_or(std::string()), safariPage,
                                    userInfoFrom(userInfo));
}

void toolbarItemClicked(id /*self*/, SEL /*cmd*/, id window) {
  SafariWindow safariWindow(window);
  entries().toolbarItemClickedInWindow(safariWindow);
}

void validateToolbarItem(id /*self*/, SEL /*cmd*/, id window, ValidationBlock validationHandler) {
  SafariWindow safariWindow(window);
  entries().validateToolbarItemInWindow(
      safariWindow,
      [held = HeldBlock<ValidationBlock>(validationHandler)](bool enabled, std::string text) {
        const Owned badge = makeString(text);
        if (held) held.get()(enabled ? YES : NO, badge.get());
      });
}

void didReceiveResponse(id /*self*/, SEL /*cmd*/, id /*center*/, id response,
                        CompletionBlock completionHandler) {
  const NotificationResponse seamResponse(response);
  entries().userNotificationCenterDidReceiveNotificationResponse(
      seamResponse, [held = HeldBlock<CompletionBlock>(completionHandler)] {
        if (held) held.get()();
      });
}

void willPresent(id /*self*/, SEL /*cmd*/, id /*center*/, id /*notification*/,
                 PresentationBlock completionHandler) {
  entries().userNotificationCenterWillPresentNotification(
      [held = HeldBlock<PresentationBlock>(completionHandler)](std::uint64_t options) {
        if (held) held.get()(static_cast<NSUInteger>(options));
      });
}

id popoverInitWithNibName(id self, SEL /*cmd*/, id nibName, id bundle) {
  SafariExtensionViewController::initWithNibNameBundle(extensionPlatform().mainThread);
  return sendSuper<id, id, id>(self, "SFSafariExtensionViewController"_cls,
                               "initWithNibName:bundle:"_sel, nibName, bundle);
}

id popoverInitWithCoder(id self, SEL /*cmd*/, id coder) {
  SafariExtensionViewController::initWithCoder(extensionPlatform().mainThread);
  return sendSuper<id, id>(self, "SFSafariExtensionViewController"_cls, "initWithCoder:"_sel,
                           coder);
}

__attribute__((constructor)) void registerExtensionClasses() {
  // Without SafariServices there is no base class, and no principal class can be made.
  Class handlerBase = "SFSafariExtensionHandler"_cls;
  Class popoverBase = "SFSafariExtensionViewController"_cls;
  if (handlerBase == nullptr || popoverBase == nullptr) return;

  Class handler = objc_allocateClassPair(handlerBase, "SafariExtensionHandler", 0);
  if (handler != nullptr) {
    if (Protocol* delegate = objc_getProtocol("UNUserNotificationCenterDelegate")) {
      class_addProtocol(handler, delegate);
    }
    addMethod(handler, "messageReceivedWithName:fromPage:userInfo:", &messageReceived);
    addMethod(handler, "toolbarItemClickedInWindow:", &toolbarItemClicked);
    addMethod(handler, "validateToolbarItemInWindow:validationHandler:", &validateToolbarItem);
    addMethod(handler,
              "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:",
              &didReceiveResponse);
    addMethod(handler, "userNotificationCenter:willPresentNotification:withCompletionHandler:",
              &willPresent);
    objc_registerClassPair(handler);
  }

  Class popover = objc_allocateClassPair(popoverBase, "SafariExtensionViewController", 0);
  if (popover != nullptr) {
    addMethod(popover, "initWithNibName:bundle:", &popoverInitWithNibName);
    addMethod(popover, "initWithCoder:", &popoverInitWithCoder);
    objc_registerClassPair(popover);
  }
}

}  // namespace
}  // namespace tidingsbell::macos
