#include "runtime/Mutex.h"

#include "C/system/System.h"

namespace vigil {

Mutex::Mutex() {
    if (pthread_mutex_init(&mutex_, nullptr) != 0)
        VIGIL_RAISE("Fatal error", "Failed to initialize Mutex");
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
        VIGIL_RAISE("Fatal error", "Failed to lock mutex");
}

}  // namespace vigil
