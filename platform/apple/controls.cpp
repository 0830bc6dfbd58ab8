#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

std::optional<std::string> TextField::stringValue() const {
  return toString(send(field_, "stringValue"));
}

void TextField::setStringValue(const std::string& value) {
  const Owned text = makeString(value);
  send<void, id>(field_, "setStringValue:", text.get());
}

bool TextField::becomeFirstResponder() {
  return send<BOOL>(field_, "becomeFirstResponder") != NO;
}

long Button::state() const {
  return send<NSInteger>(button_, "state");
}

void Button::setState(long state) {
  send<void, NSInteger>(button_, "setState:", state);
}

}  // namespace tidingsbell::apple
