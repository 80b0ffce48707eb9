#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vigil::test {

// A POSIX extended regular expression that matches exactly the given text (death tests compare the
// child's whole standard error with it).
inline std::string exactly(const std::string& text) {
    std::string pattern = "^";
    for (char c : text) {
        if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

// The message a runtime exception raised at this test file's line prints.
inline std::string raised(const std::string& head, const char* func, const char* unit, int line) {
    return head + "\n raised in " + func + " at " + unit + ":" + std::to_string(line) + "\n";
}

}  // namespace vigil::test

// Death tests run threadsafe: the runtime's tests start threads (servers on loopback).
#define VIGIL_DEATH_STYLE() (::testing::FLAGS_gtest_death_test_style = "threadsafe")
