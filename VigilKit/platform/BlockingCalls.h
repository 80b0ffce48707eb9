#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vigil {

// Runs calls that may block for long (statvfs of a file system whose server or FUSE daemon stopped
// answering, SMART reads, UDisks2 calls) on helper threads of their own, so that they never hold a
// worker of the sampling pool. Idle helpers are reused; a helper stuck in a call is left to finish
// it while new calls go to other helpers.
//
// Each call has a key (a mount point, a disk). A call that did not answer in time leaves its key
// hung: later calls with that key return stillHung at once, without another try, until the stuck
// call returns. A call must own everything it touches (capture by value or shared_ptr): it may
// outlive its caller's wait.
class BlockingCalls {
  public:
    enum class Outcome { answered, timedOut, stillHung };

    BlockingCalls();
    ~BlockingCalls();
    BlockingCalls(const BlockingCalls&) = delete;
    BlockingCalls& operator=(const BlockingCalls&) = delete;

    // The runner shared by the program's collectors.
    static BlockingCalls& shared();

    // Runs `call` on a helper and waits up to `timeout` for it.
    Outcome run(const std::string& key, std::function<void()> call,
                std::chrono::milliseconds timeout);
    // Starts `call` on a helper without waiting. False (and `call` not run) while an earlier call
    // with this key has not returned: calls that pile up on one key are merged into the running
    // one.
    bool post(const std::string& key, std::function<void()> call);

    // True while a call with this key runs (a call that timed out, or a posted one).
    bool isBusy(const std::string& key);

  private:
    struct Call;
    struct Helpers;
    std::shared_ptr<Call> start(const std::string& key, std::function<void()> call);

    std::shared_ptr<Helpers> helpers_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Call>> running_;  // calls still running, by key
};

}  // namespace vigil
