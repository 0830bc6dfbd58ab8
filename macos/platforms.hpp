#pragma once
// The real platform each executable hands its bodies: stateless wrappers of the platform's own
// shared objects, made once.

#include "app/AppPlatform.hpp"
#include "extension/ExtensionPlatform.hpp"

namespace tidingsbell::macos {

const ExtensionPlatform& extensionPlatform();
const AppPlatform& appPlatform();

}  // namespace tidingsbell::macos
