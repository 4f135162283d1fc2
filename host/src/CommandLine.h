#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tripwire_host {

// What the program learns from its arguments before the parser sees them: whether JSON was asked
// for (a usage error must answer in JSON too), and a command word that names no command.
struct CommandLineScan {
    bool json = false;
    // "unknown command 'instal' (did you mean 'install'?)"
    std::optional<std::string> unknownCommand;
    // The arguments for the parser, with "help [COMMAND]" turned into "[COMMAND] --help".
    std::vector<std::string> arguments;
};

CommandLineScan scanCommandLine(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& commands);

// "a, b or c"
std::string joinedNames(const std::vector<std::string>& names);

// The help's closing part: exit statuses and the environment variables the program reads.
const char* helpFooter();

// The message of the exception being handled. Call only inside a handler.
std::string currentExceptionMessage();

} // namespace tripwire_host
