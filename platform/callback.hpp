#pragma once
// A move-only callable: the C++ form of a copied block. Whoever holds it owns what it captured;
// destroying it uncalled releases those captures, exactly as releasing an uncalled block does.

#include <memory>
#include <type_traits>
#include <utility>

namespace tidingsbell {

template <typename Signature>
class Callback;

template <typename R, typename... Args>
class Callback<R(Args...)> {
 public:
  Callback() = default;
  template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Callback> &&
                                                    std::is_invocable_r_v<R, F&, Args...>>>
  Callback(F&& f)  // NOLINT(google-explicit-constructor): a block literal converts implicitly too
      : impl_(std::make_unique<Model<std::decay_t<F>>>(std::forward<F>(f))) {}

  Callback(Callback&&) noexcept = default;
  Callback& operator=(Callback&&) noexcept = default;
  Callback(const Callback&) = delete;
  Callback& operator=(const Callback&) = delete;
  ~Callback() = default;

  explicit operator bool() const { return impl_ != nullptr; }

  R operator()(Args... args) const { return impl_->call(std::forward<Args>(args)...); }

 private:
  struct Concept {
    virtual ~Concept() = default;
    virtual R call(Args... args) = 0;
  };
  template <typename F>
  struct Model final : Concept {
    explicit Model(F&& f) : fn(std::move(f)) {}
    explicit Model(const F& f) : fn(f) {}
    R call(Args... args) override { return fn(std::forward<Args>(args)...); }
    F fn;
  };
  std::unique_ptr<Concept> impl_;
};

}  // namespace tidingsbell
