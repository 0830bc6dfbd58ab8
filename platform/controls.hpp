#pragma once
// The few AppKit controls the settings window touches.

#include <memory>
#include <optional>
#include <string>

namespace tidingsbell::platform {

enum class ControlState : long { Mixed = -1, Off = 0, On = 1 };

class TextField {
 public:
  virtual ~TextField() = default;
  // None when the text has no UTF-8 form: there is no text to use, not an empty one.
  [[nodiscard]] virtual std::optional<std::string> stringValue() const = 0;
  virtual void setStringValue(const std::string& value) = 0;
  virtual bool becomeFirstResponder() = 0;
};

class Button {
 public:
  virtual ~Button() = default;
  [[nodiscard]] virtual long state() const = 0;
  virtual void setState(long state) = 0;
};

// What a controller keeps of a control the interface loader connects: a strong reference, or a
// weak one that lapses when the view hierarchy lets the control go, as the platform's outlet is
// declared. The platform makes one for each control it connects.
template <typename Control>
class Outlet {
 public:
  virtual ~Outlet() = default;
  // The control, kept alive while the answer is held; null once a weak outlet's control is gone.
  [[nodiscard]] virtual std::shared_ptr<Control> load() const = 0;
};

}  // namespace tidingsbell::platform
