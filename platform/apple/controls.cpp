#include "platform/apple/apple_platform.hpp"

namespace tidingsbell::apple {

std::optional<std::string> TextField::stringValue() const {
  return toString(send(field_, "stringValue"_sel));
}

void TextField::setStringValue(const std::string& value) {
  const Owned text = makeString(value);
  send<void, id>(field_, "setStringValue:"_sel, text.get());
}

bool TextField::becomeFirstResponder() {
  return send<BOOL>(field_, "becomeFirstResponder"_sel) != NO;
}

long Button::state() const {
  return send<NSInteger>(button_, "state"_sel);
}

void Button::setState(long state) {
  send<void, NSInteger>(button_, "setState:"_sel, state);
}

}  // namespace tidingsbell::apple
