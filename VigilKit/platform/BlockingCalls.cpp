#include "platform/BlockingCalls.h"

#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>

namespace vigil {

namespace {

// A helper with nothing to do for this long ends; the next call starts a new one.
constexpr auto helperIdleLife = std::chrono::seconds(30);

}  // namespace

struct BlockingCalls::Call {
    std::function<void()> body;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;

    bool isDone() {
        std::lock_guard lock(mutex);
        return done;
    }
};

// The helper threads and their queue. Shared with every helper, so that the runner can go while a
// helper is still stuck in a call.
struct BlockingCalls::Helpers {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Call>> queue;
    int idle = 0;
    bool stopping = false;

    static void work(const std::shared_ptr<Helpers>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            ++self->idle;
            const bool woken = self->wake.wait_for(
                lock, helperIdleLife, [&] { return !self->queue.empty() || self->stopping; });
            --self->idle;
            if (!woken || self->queue.empty())
                return;
            auto call = std::move(self->queue.front());
            self->queue.pop_front();
            lock.unlock();
            call->body();
            call->body = nullptr;  // what it captured goes now, not with the next call
            {
                std::lock_guard callLock(call->mutex);
                call->done = true;
            }
            call->finished.notify_all();
            lock.lock();
        }
    }

    // Queues the call; starts a helper when every idle one already has a call waiting for it.
    void add(const std::shared_ptr<Call>& call, const std::shared_ptr<Helpers>& self) {
        bool needsHelper = false;
        {
            std::lock_guard lock(mutex);
            queue.push_back(call);
            needsHelper = static_cast<int>(queue.size()) > idle;
        }
        if (needsHelper)
            std::thread([self] { work(self); }).detach();
        else
            wake.notify_one();
    }
};

BlockingCalls::BlockingCalls() : helpers_(std::make_shared<Helpers>()) {}

BlockingCalls::~BlockingCalls() {
    {
        std::lock_guard lock(helpers_->mutex);
        helpers_->stopping = true;
    }
    helpers_->wake.notify_all();
}

BlockingCalls& BlockingCalls::shared() {
    static auto* calls = new BlockingCalls;
    return *calls;
}

std::shared_ptr<BlockingCalls::Call> BlockingCalls::start(const std::string& key,
                                                          std::function<void()> body) {
    // Held while the call is queued, so that two callers of one key cannot both start it.
    std::lock_guard lock(mutex_);
    auto it = running_.find(key);
    if (it != running_.end()) {
        if (!it->second->isDone())
            return nullptr;
        running_.erase(it);
    }
    auto call = std::make_shared<Call>();
    call->body = std::move(body);
    try {
        helpers_->add(call, helpers_);
    } catch (const std::system_error&) {
        // No thread to be had: the call runs here rather than not at all.
        call->body();
        call->body = nullptr;
        call->done = true;
        return call;
    }
    running_[key] = call;
    return call;
}

BlockingCalls::Outcome BlockingCalls::run(const std::string& key, std::function<void()> body,
                                          std::chrono::milliseconds timeout) {
    auto call = start(key, std::move(body));
    if (!call)
        return Outcome::stillHung;
    std::unique_lock lock(call->mutex);
    if (!call->finished.wait_for(lock, timeout, [&] { return call->done; }))
        return Outcome::timedOut;
    lock.unlock();
    std::lock_guard table(mutex_);
    if (auto it = running_.find(key); it != running_.end() && it->second == call)
        running_.erase(it);
    return Outcome::answered;
}

bool BlockingCalls::post(const std::string& key, std::function<void()> body) {
    return start(key, std::move(body)) != nullptr;
}

bool BlockingCalls::isBusy(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto it = running_.find(key);
    return it != running_.end() && !it->second->isDone();
}

}  // namespace vigil
