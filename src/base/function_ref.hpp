// SPDX-License-Identifier: MIT
// A non-owning reference to something callable, so the interpreter can hand
// notes and command reports to its caller without allocating. It refers to
// the callable it was made from: bind it to a named one, since a temporary
// dies at the end of its statement.
#pragma once

#include <type_traits>
#include <utility>

namespace tuvello::base {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F&& f)  // NOLINT(google-explicit-constructor): used like a plain callable
      : object_(const_cast<void*>(static_cast<const void*>(&f))),
        call_([](void* object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

}  // namespace tuvello::base
