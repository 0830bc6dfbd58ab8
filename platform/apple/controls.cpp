#include <utility>

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

namespace {

// The wrapper of a control together with the reference that keeps the control alive.
template <typename Wrapper>
std::shared_ptr<Wrapper> held(Owned control) {
  if (!control) return nullptr;
  id object = control.get();
  auto both = std::make_shared<std::pair<Owned, Wrapper>>(std::move(control), Wrapper(object));
  return {both, &both->second};
}

template <typename Wrapper, typename Seam>
class StrongOutlet final : public platform::Outlet<Seam> {
 public:
  explicit StrongOutlet(id control) : control_(Owned::retain(control)) {}
  [[nodiscard]] std::shared_ptr<Seam> load() const override {
    return held<Wrapper>(Owned::retain(control_.get()));
  }

 private:
  Owned control_;
};

// The runtime's weak table records the slot's address, so the slot never moves: the outlet lives
// where it was made, and takes its slot out of the table when it goes.
template <typename Wrapper, typename Seam>
class WeakOutlet final : public platform::Outlet<Seam> {
 public:
  explicit WeakOutlet(id control) { objc_storeWeak(&slot_, control); }
  WeakOutlet(const WeakOutlet&) = delete;
  WeakOutlet& operator=(const WeakOutlet&) = delete;
  ~WeakOutlet() override { objc_destroyWeak(&slot_); }
  [[nodiscard]] std::shared_ptr<Seam> load() const override {
    return held<Wrapper>(Owned::adopt(objc_loadWeakRetained(&slot_)));
  }

 private:
  mutable id slot_ = nullptr;  // touched only through the runtime's weak functions
};

template <typename Wrapper, typename Seam>
std::unique_ptr<platform::Outlet<Seam>> outlet(id control, Strength strength) {
  if (control == nullptr) return nullptr;
  if (strength == Strength::Strong) return std::make_unique<StrongOutlet<Wrapper, Seam>>(control);
  return std::make_unique<WeakOutlet<Wrapper, Seam>>(control);
}

}  // namespace

std::unique_ptr<platform::Outlet<platform::TextField>> textFieldOutlet(id field,
                                                                       Strength strength) {
  return outlet<TextField, platform::TextField>(field, strength);
}

std::unique_ptr<platform::Outlet<platform::Button>> buttonOutlet(id button, Strength strength) {
  return outlet<Button, platform::Button>(button, strength);
}

}  // namespace tidingsbell::apple
