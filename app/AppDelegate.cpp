#include "app/AppDelegate.hpp"

namespace tidingsbell {

void AppDelegate::applicationDidFinishLaunching() const {
  platform::requireMainThread(platform_.mainThread, "AppDelegate applicationDidFinishLaunching:");
}

void AppDelegate::applicationWillTerminate() const {
  platform::requireMainThread(platform_.mainThread, "AppDelegate applicationWillTerminate:");
}

}  // namespace tidingsbell
