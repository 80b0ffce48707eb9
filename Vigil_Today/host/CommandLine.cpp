#include "host/CommandLine.h"

#include <map>

namespace vigil {

namespace {

const std::map<std::string, CommandLine::Action>& options() {
    static const std::map<std::string, CommandLine::Action> known{
        {"--show", CommandLine::Action::show}, {"--toggle", CommandLine::Action::toggle},
        {"--quit", CommandLine::Action::quit}, {"--help", CommandLine::Action::help},
        {"-h", CommandLine::Action::help},     {"--version", CommandLine::Action::version},
    };
    return known;
}

CommandLine invalid(std::string error) {
    return CommandLine{CommandLine::Action::invalid, std::move(error)};
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine result;
    std::string chosen;
    for (const std::string& argument : arguments) {
        const auto known = options().find(argument);
        if (known == options().end()) {
            if (argument.starts_with('-'))
                return invalid("unknown option '" + argument + "'");
            return invalid("unexpected argument '" + argument + "'");
        }
        if (!chosen.empty() && chosen != argument)
            return invalid(chosen + " and " + argument + " cannot be used together");
        chosen = argument;
        result.action = known->second;
    }
    return result;
}

std::string CommandLine::usage(const std::string& program) {
    return "Usage: " + program +
           " [--show | --toggle | --quit | --help | --version]\n"
           "Vigil: a system monitor panel for the desktop.\n"
           "\n"
           "Without an option the panel starts, or the one already running in this session is\n"
           "shown (one panel per session).\n"
           "  --show       show the running panel, or start it\n"
           "  --toggle     hide or show the running panel, or start it (bind a desktop\n"
           "               keyboard shortcut to this)\n"
           "  --quit       end the running panel\n"
           "  -h, --help   print this help\n"
           "  --version    print the version\n"
           "\n"
           "The running panel also answers Show, Toggle and Quit on the session bus as\n"
           "org.vigil.Vigil at /org/vigil/Vigil.\n";
}

}  // namespace vigil
