#pragma once

#include <string>
#include <vector>

namespace vigil {

// What the program was asked to do on its command line.
struct CommandLine {
    enum class Action {
        start,    // no option: start the panel, or show the one already running
        show,     // --show: the same, said out loud
        toggle,   // --toggle: hide or show the running panel; start one when none runs
        quit,     // --quit: end the running panel
        help,     // --help, -h: print the usage and stop
        version,  // --version: print the version and stop
        invalid,  // anything else: print `error` and stop with status 2
    };
    Action action = Action::start;
    // One line naming what was wrong (for Action::invalid).
    std::string error;

    // Reads the arguments after the program's name.
    static CommandLine parse(const std::vector<std::string>& arguments);
    // The text --help prints, for a program started as `program`.
    static std::string usage(const std::string& program);
};

}  // namespace vigil
