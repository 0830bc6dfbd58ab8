#pragma once
// Everything the host application's classes reach of the operating system.

#include "platform/keychain.hpp"
#include "platform/output.hpp"
#include "platform/safari.hpp"
#include "platform/threads.hpp"

namespace tidingsbell {

struct AppPlatform {
  platform::Keychain& keychain;
  platform::MainThread& mainThread;
  platform::DispatchQueue& userInitiatedQueue;  // the global queue of that quality of service
  platform::SafariApplication& safari;
  platform::StandardOutput& standardOutput;
};

}  // namespace tidingsbell
