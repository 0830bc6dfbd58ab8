#pragma once
// The shared workspace, asked to open URLs with a named application.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/url.hpp"

namespace tidingsbell::platform {

inline constexpr std::uint64_t NSWorkspaceLaunchDefault = 0x10000;

class Workspace {
 public:
  virtual ~Workspace() = default;
  // No additional event descriptor and no launch identifiers: the only form the system uses.
  virtual bool openURLs(const std::vector<Url>& urls, std::string_view bundleIdentifier,
                        std::uint64_t options) = 0;
};

}  // namespace tidingsbell::platform
