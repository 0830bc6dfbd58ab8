#pragma once
// The settings window's behaviour, once. The macOS run-time class `ViewController` keeps the
// four outlets as the interface loader sets them (the label strong, the token field and the two
// buttons weak) and calls these with the controls it holds; the stand-in window does the same.
// Each checks first that it runs on the main thread, and names the selector it serves in the
// message that stops the program when it does not. A control that is not connected is null.

#include <string_view>

#include "app/AppPlatform.hpp"
#include "platform/controls.hpp"
#include "tidingsbell_identifiers.hpp"

namespace tidingsbell {

inline constexpr std::string_view kAppName = "Tidingsbell";

// The check of every entry that has no body below (initializers, outlet accessors).
void requireMainThread(const AppPlatform& platform, const char* selector);

// setPersonalAccessTokenTextField: fills the newly connected field from the stored token.
void showStoredToken(const AppPlatform& platform, platform::TextField* field);
// setMuteSwitch: sets the newly connected button from the stored mute flag.
void showStoredMuteFlag(const AppPlatform& platform, platform::Button* button);
// viewDidLoad: names the window and puts the focus in the token field.
void showAppNameAndFocusToken(const AppPlatform& platform, platform::TextField* label,
                              platform::TextField* field);
// submitPersonalAccessTokenAction: saves the field's text, exactly, as the token.
void saveTokenFromField(const AppPlatform& platform, const platform::TextField* field);
// muteValueChange: saves the sender's state as the mute flag.
void saveMuteSwitch(const AppPlatform& platform, const platform::Button* sender);
// openSafariExtensionPreferences: asks Safari, off the main thread, to show the extension.
void askSafariForPreferences(const AppPlatform& platform);

}  // namespace tidingsbell
