#include "C/system/System.h"

#include "C/system/ErrorReport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

const char* System_getError(int errnum) {
    thread_local char text[256];
    // The GNU strerror_r returns either its own static text or the buffer it filled.
    return strerror_r(errnum, text, sizeof text);
}

const char* System_getLastError() {
    return System_getError(errno);
}

void System_error(const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    vigil::ErrorReport::shared().reportText(text);
}

void System_abort(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fflush(stderr);
    std::abort();
}

const char* System_unit(const char* file) {
    if (!file)
        return "?";
    const char* unit = nullptr;
    for (const char* root : {"VigilKit/", "tests/", "tools/"}) {
        for (const char* p = std::strstr(file, root); p; p = std::strstr(p + 1, root)) {
            if (!unit || p > unit)
                unit = p;
        }
    }
    if (unit)
        return unit;
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}
