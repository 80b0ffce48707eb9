// Sanitizer options built into every test program, so they hold however the program is started
// (ctest, by hand, under a debugger). A run that sets the variables itself still overrides them.

extern "C" {

// A failing allocation comes back as null so the runtime's own memory message can be tested.
const char* __asan_default_options() {
    return "detect_leaks=1:detect_stack_use_after_return=1:allocator_may_return_null=1";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1";
}

// Caches that fontconfig, D-Bus and GL keep until exit are not ours to free.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libdbus-1\n"
           "leak:libQt6DBus\n"
           "leak:libEGL\n"
           "leak:libGLX\n";
}
}
