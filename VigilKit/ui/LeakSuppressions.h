#pragma once

// Leak suppressions built into a Qt program for sanitizer builds: the caches that fontconfig,
// D-Bus, GL and the Wayland client library keep until exit are not ours to free, and must not fail
// a run whatever LSAN_OPTIONS the runner passes (keep in line with tests/lsan.supp). Include from
// exactly one source file of a program; other builds never call it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libdbus-1\n"
           "leak:libQt6DBus\n"
           "leak:libEGL\n"
           "leak:libGLX\n"
           "leak:libwayland-client\n";
}
