#pragma once

// Error reporting of the collector runtime.
//
// System errors that the program survives are written as one line through System_error, which
// hands them to the error report (C/system/ErrorReport.h): "Error: <call> -- <system error text>",
// each cause at most once a minute. Exceptions that it cannot go on from end the process through
// System_abort, the one fatal path with "<Kind>Exception: <detail>\n raised in <function> at
// <unit>:<line>\n". Contract violations (null records, negative counts) are assertions that raise
// an AssertException naming the failed expression.

#include <cstdarg>

// The system's text for the current error number (errno).
const char* System_getLastError();
// The system's text for errnum.
const char* System_getError(int errnum);
// Reports "Error: " and the formatted text (no line end) through the error report.
void System_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes the formatted text to the standard error stream, then aborts the process.
[[noreturn]] void System_abort(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The source unit of a compiler file name: the path from its last "VigilKit/" or "tests/" on,
// otherwise the file name itself.
const char* System_unit(const char* file);

// Raises an exception of the given kind ("NumberFormatException", "AssertException",
// "Memory Exception") with a printf detail, naming the calling function, source unit and line.
#define VIGIL_RAISE(kind, format, ...)                                                     \
    System_abort(kind ": " format "\n raised in %s at %s:%d\n" __VA_OPT__(, ) __VA_ARGS__, \
                 __func__, System_unit(__FILE__), __LINE__)

// Contract check, always on: a violation raises "AssertException: <expression>".
#define VIGIL_ASSERT(e)                               \
    do {                                              \
        if (!(e))                                     \
            VIGIL_RAISE("AssertException", "%s", #e); \
    } while (0)
