#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/SignalListener.h"
#include "runtime/Trackable.h"

namespace vigil {

// A typed event source. Firing delivers to a snapshot of the listeners in attachment order;
// listeners whose owner is gone are pruned at the next fire or attachment. A signal that carries
// no data is a Signal<> and is fired with no argument.
// Not thread-safe: fire, attach and detach from one thread (the main thread in this system).
template <typename T = std::monostate>
class Signal {
  public:
    using Listener = SignalListener<T>;
    using ListenerPtr = std::shared_ptr<Listener>;
    using Callback = typename Listener::Callback;

    explicit Signal(bool retainLastData = false) : retainLastData_(retainLastData) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    int64_t fireCount() const { return fireCount_; }
    const std::optional<T>& lastDataFired() const { return lastDataFired_; }

    bool retainLastData() const { return retainLastData_; }
    void setRetainLastData(bool retain) {
        retainLastData_ = retain;
        if (!retain)
            lastDataFired_.reset();
    }

    void fire(const T& data) {
        ++fireCount_;
        if (retainLastData_) {
            lastDataFired_ = data;
        } else {
            lastDataFired_.reset();
        }
        dumpCancelledListeners();
        const std::vector<ListenerPtr> snapshot = signalListeners_;
        for (const auto& listener : snapshot) {
            if (!listener->passes(data))
                continue;
            listener->dispatch(data);
        }
    }

    void fire() requires std::same_as<T, std::monostate> { fire(std::monostate{}); }

    ListenerPtr listen(OwnerRef on, Callback callback) {
        dumpCancelledListeners();
        auto listener = std::make_shared<Listener>(std::move(on), std::move(callback));
        signalListeners_.push_back(listener);
        return listener;
    }

    ListenerPtr listen(OwnerRef on,
                       std::function<void()> callback) requires std::same_as<T, std::monostate> {
        return listen(std::move(on), [cb = std::move(callback)](const T&) { cb(); });
    }

    ListenerPtr listenOnce(OwnerRef on, Callback callback) {
        auto listener = listen(std::move(on), std::move(callback));
        listener->setOnce(true);
        return listener;
    }

    // Also delivers the retained value, if any, at once on the calling thread.
    ListenerPtr listenPast(OwnerRef on, Callback callback) {
        auto listener = listen(std::move(on), std::move(callback));
        if (lastDataFired_)
            listener->invoke(*lastDataFired_);
        return listener;
    }

    // Delivers exactly one value: the retained one at once, or else the next one fired.
    ListenerPtr listenPastOnce(OwnerRef on, Callback callback) {
        auto listener = listen(std::move(on), std::move(callback));
        if (lastDataFired_) {
            listener->invoke(*lastDataFired_);
            listener->cancel();
        } else {
            listener->setOnce(true);
        }
        return listener;
    }

    // Removes every listener of this owner, and those whose owner is gone.
    void dettach(const void* from) {
        std::erase_if(signalListeners_, [from](const ListenerPtr& listener) {
            return !listener->isAttached() || listener->ownerIdentity() == from;
        });
    }
    void dettach(const Trackable& from) { dettach(from.identity()); }

    void dettachAllListeners() { signalListeners_.clear(); }

    void clearLastData() { lastDataFired_.reset(); }

    // The owners of the listeners that are still attached, in attachment order.
    std::vector<std::shared_ptr<void>> listeners() const {
        std::vector<std::shared_ptr<void>> owners;
        for (const auto& listener : signalListeners_) {
            if (auto owner = listener->listener())
                owners.push_back(std::move(owner));
        }
        return owners;
    }

    // Listeners still held, cancelled ones included until the next pruning (for tests).
    size_t attachedCount() const { return signalListeners_.size(); }

  private:
    void dumpCancelledListeners() {
        const bool anyCancelled =
            std::any_of(signalListeners_.begin(), signalListeners_.end(),
                        [](const ListenerPtr& listener) { return !listener->isAttached(); });
        if (!anyCancelled)
            return;
        std::erase_if(signalListeners_,
                      [](const ListenerPtr& listener) { return !listener->isAttached(); });
    }

    int64_t fireCount_ = 0;
    std::optional<T> lastDataFired_;
    bool retainLastData_;
    std::vector<ListenerPtr> signalListeners_;
};

}  // namespace vigil
