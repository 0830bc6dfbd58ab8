#pragma once

#include "app/AppPlatform.hpp"

namespace tidingsbell {

// The application's delegate: no fields, and it leaves every decision to the platform's
// defaults, so closing the window does not end the application.
class AppDelegate {
 public:
  explicit AppDelegate(const AppPlatform& platform) : platform_(platform) {}  // init
  void applicationDidFinishLaunching() const;
  void applicationWillTerminate() const;

 private:
  const AppPlatform& platform_;
};

}  // namespace tidingsbell
