#include "system/Mutex.h"

#include <cstdio>
#include <cstdlib>

namespace vigil {

namespace {
[[noreturn]] void fatal(const char* message, int line) {
    std::fprintf(stderr, "Fatal error: %s: file VigilKit/system/Mutex, line %d\n", message, line);
    std::fflush(stderr);
    std::abort();
}
}  // namespace

Mutex::Mutex() {
    if (pthread_mutex_init(&mutex_, nullptr) != 0)
        fatal("Failed to initialize Mutex", __LINE__);
}

Mutex::~Mutex() {
    pthread_mutex_destroy(&mutex_);
}

bool Mutex::lock() {
    return pthread_mutex_lock(&mutex_) == 0;
}

bool Mutex::unlock() {
    return pthread_mutex_unlock(&mutex_) == 0;
}

void Mutex::lockOrAbort() {
    if (!lock())
        fatal("Failed to lock mutex", __LINE__);
}

}  // namespace vigil
