#include "platform/standin/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tidingsbell::standin {

std::filesystem::path dataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::filesystem::path(xdg) / "tidingsbell";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    if (const passwd* entry = getpwuid(getuid())) home = entry->pw_dir;
  }
  return std::filesystem::path(home != nullptr ? home : "/") / ".local/share/tidingsbell";
}

}  // namespace tidingsbell::standin
