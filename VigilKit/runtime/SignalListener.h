#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "runtime/Queue.h"
#include "runtime/Trackable.h"

namespace vigil {

// One attachment to a Signal: the delivery function, the owner held weakly, and the optional
// refinements (predicate, delivery queue, coalescing delay, one-shot). Refinements chain:
//   signal.listen(*this, cb)->filter(pred)->queue(0.5)->dispatch(Queue::background());
template <typename T>
class SignalListener : public std::enable_shared_from_this<SignalListener<T>> {
  public:
    using Callback = std::function<void(const T&)>;
    using Predicate = std::function<bool(const T&)>;

    SignalListener(OwnerRef owner, Callback callback)
        : owner_(std::move(owner)), callback_(std::move(callback)) {}

    // The owner, or null once it is gone or the listener was cancelled.
    std::shared_ptr<void> listener() const {
        std::lock_guard lock(stateMutex_);
        return owner_.token.lock();
    }
    const void* ownerIdentity() const { return owner_.identity; }
    bool isAttached() const {
        std::lock_guard lock(stateMutex_);
        return owner_.alive();
    }

    bool once() const { return once_; }
    void setOnce(bool once) { once_ = once; }

    bool hasFilter() const { return static_cast<bool>(filter_); }
    bool passes(const T& data) const { return !filter_ || filter_(data); }

    std::optional<T> queuedData() const {
        std::lock_guard lock(stateMutex_);
        return queuedData_;
    }

    std::shared_ptr<SignalListener> filter(Predicate where) {
        filter_ = std::move(where);
        return this->shared_from_this();
    }

    // Deliveries are deferred by `seconds` and coalesced: one delivery per window, with the newest
    // value fired in it, the window measured from its first fire.
    std::shared_ptr<SignalListener> queue(double andDelayBy) {
        delay_ = andDelayBy;
        return this->shared_from_this();
    }

    std::shared_ptr<SignalListener> dispatch(Queue& onQueue) {
        dispatchQueue_ = &onQueue;
        return this->shared_from_this();
    }

    void cancel() {
        std::lock_guard lock(stateMutex_);
        owner_.token.reset();
    }

    // Delivers one value; returns whether the listener is still attached afterwards.
    bool dispatch(const T& data) {
        if (!isAttached())
            return false;
        if (once_)
            cancel();
        if (!delay_) {
            deliverNow(data);
        } else {
            deliverDeferred(data);
        }
        return isAttached();
    }

    void invoke(const T& data) const { callback_(data); }

  private:
    void deliverNow(const T& data) {
        if (dispatchQueue_ == nullptr) {
            callback_(data);
            return;
        }
        // The task keeps the listener alive and does not look at the owner again.
        auto self = this->shared_from_this();
        dispatchQueue_->async([self, data] { self->callback_(data); });
    }

    void deliverDeferred(const T& data) {
        {
            std::lock_guard lock(stateMutex_);
            const bool pending = queuedData_.has_value();
            queuedData_ = data;
            if (pending)
                return;
        }
        std::weak_ptr<SignalListener> weakSelf = this->shared_from_this();
        Queue& target = dispatchQueue_ ? *dispatchQueue_ : Queue::main();
        const double seconds =
            static_cast<double>(static_cast<long long>(*delay_ * 1e9)) / 1e9;  // whole nanoseconds
        target.asyncAfter(seconds, [weakSelf] {
            auto self = weakSelf.lock();
            if (!self)
                return;
            std::optional<T> taken;
            {
                std::lock_guard lock(self->stateMutex_);
                taken.swap(self->queuedData_);
            }
            if (taken && self->isAttached())
                self->callback_(*taken);
        });
    }

    OwnerRef owner_;
    bool once_ = false;
    std::optional<double> delay_;
    // The owner and queuedData_ are also read by a deferred task on its delivery queue.
    mutable std::mutex stateMutex_;
    std::optional<T> queuedData_;
    Predicate filter_;
    Callback callback_;
    Queue* dispatchQueue_ = nullptr;
};

}  // namespace vigil
