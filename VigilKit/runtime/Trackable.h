#pragma once

#include <memory>

namespace vigil {

// Base of every object that listens to signals. Signals hold the owner weakly through its token, so
// a listener whose owner is gone stops hearing and is pruned, without a detach call.
// Copies and moves get a token of their own: listeners stay with the original object.
class Trackable {
  public:
    Trackable() : token_(std::make_shared<char>(0)) {}
    Trackable(const Trackable&) : Trackable() {}
    Trackable& operator=(const Trackable&) { return *this; }
    virtual ~Trackable() = default;

    std::weak_ptr<void> lifetimeToken() const { return token_; }
    const void* identity() const { return this; }

  private:
    std::shared_ptr<char> token_;
};

// What a listener remembers of its owner: a weak reference and the owner's identity.
struct OwnerRef {
    std::weak_ptr<void> token;
    const void* identity = nullptr;

    OwnerRef() = default;
    OwnerRef(const Trackable& owner) : token(owner.lifetimeToken()), identity(owner.identity()) {}
    template <typename T>
    OwnerRef(const std::shared_ptr<T>& owner)
        : token(std::static_pointer_cast<void>(
              std::const_pointer_cast<std::remove_const_t<T>>(owner))),
          identity(owner.get()) {}

    bool alive() const { return !token.expired(); }
};

}  // namespace vigil
