#pragma once

#include <utility>

#include "runtime/Mutex.h"

namespace vigil {

// A value guarded by its own mutex. Every operation runs wholly under the lock; the closures given
// to modify() and withValue() must not touch the same Atomic.
template <typename T>
class Atomic {
  public:
    explicit Atomic(T initial = T{}) : value_(std::move(initial)) {}
    Atomic(const Atomic&) = delete;
    Atomic& operator=(const Atomic&) = delete;

    T value() const {
        return mutex_.synchronise([&] { return value_; });
    }

    void setValue(T newValue) {
        mutex_.synchronise([&] { value_ = std::move(newValue); });
    }

    // Stores the new value and returns the one held before.
    T swap(T newValue) {
        return mutex_.synchronise([&] {
            T previous = std::move(value_);
            value_ = std::move(newValue);
            return previous;
        });
    }

    // Replaces the value by action(copy of value) and returns the previous value. If the action
    // throws, the value is unchanged.
    template <typename F>
    T modify(F&& action) {
        return mutex_.synchronise([&] {
            T next = std::forward<F>(action)(T(value_));
            T previous = std::move(value_);
            value_ = std::move(next);
            return previous;
        });
    }

    // Runs the action on the value in place (changes stay) and returns its result.
    template <typename F>
    decltype(auto) withValue(F&& action) {
        return mutex_.synchronise(
            [&]() -> decltype(auto) { return std::forward<F>(action)(value_); });
    }

  private:
    mutable Mutex mutex_;
    T value_;
};

}  // namespace vigil
