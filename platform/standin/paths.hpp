#pragma once
// Where the stand-in stores live: one folder per user, as the platform keeps a keychain and
// preferences per user.

#include <filesystem>

namespace tidingsbell::standin {

// $XDG_DATA_HOME/tidingsbell, or ~/.local/share/tidingsbell.
std::filesystem::path dataDirectory();

}  // namespace tidingsbell::standin
