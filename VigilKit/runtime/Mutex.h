#pragma once

#include <pthread.h>

#include <exception>
#include <utility>

namespace vigil {

// A plain, non-recursive POSIX mutex. Locking it again on the thread that holds it deadlocks.
class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool lock();
    bool unlock();

    // Runs the closure with the mutex held and returns its result; the mutex is released even when
    // the closure throws.
    template <typename F>
    decltype(auto) synchronise(F&& closure) {
        lockOrAbort();
        struct Unlocker {
            Mutex& mutex;
            ~Unlocker() { mutex.unlock(); }
        } unlocker{*this};
        return std::forward<F>(closure)();
    }

  private:
    void lockOrAbort();
    pthread_mutex_t mutex_;
};

}  // namespace vigil
