#include "C/system/Mem.h"

#include <cerrno>
#include <cstdlib>

#include "C/system/System.h"

namespace {
[[noreturn]] void outOfMemory(const char* func, const char* file, int line) {
    System_abort("Memory Exception: %s\n raised in %s at %s:%d\n",
                 System_getError(errno ? errno : ENOMEM), func ? func : "?", System_unit(file),
                 line);
}
}  // namespace

void* Mem_alloc(long nbytes, const char* func, const char* file, int line) {
    VIGIL_ASSERT(nbytes > 0);
    errno = 0;
    void* p = std::malloc(static_cast<size_t>(nbytes));
    if (!p)
        outOfMemory(func, file, line);
    return p;
}

void* Mem_calloc(long count, long nbytes, const char* func, const char* file, int line) {
    VIGIL_ASSERT(count > 0);
    VIGIL_ASSERT(nbytes > 0);
    errno = 0;
    void* p = std::calloc(static_cast<size_t>(count), static_cast<size_t>(nbytes));
    if (!p)
        outOfMemory(func, file, line);
    return p;
}

void* Mem_resize(void* p, long nbytes, const char* func, const char* file, int line) {
    VIGIL_ASSERT(nbytes > 0);
    errno = 0;
    void* q = std::realloc(p, static_cast<size_t>(nbytes));
    if (!q)
        outOfMemory(func, file, line);
    return q;
}

void Mem_free(void* p, const char*, const char*, int) {
    std::free(p);
}
