#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sample::installer {

// The command line of a silent installation:
//   [-source DIR] -mode silent [-triggeredby TEXT] [-installationroot DIR]
// Each option takes the next element as its value, whatever it holds (blanks included).
struct InstallerArguments {
    // Where the archive came from; only recorded.
    std::optional<std::string> source;
    std::string mode;
    std::optional<std::string> triggeredBy;
    // Present but empty means "the default root", as when the option is absent.
    std::optional<std::string> installationRoot;
};

// A command line the installer refuses (exit code 2).
class ArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws ArgumentError for an unknown or repeated option, an option without its value, a missing
// "-mode" or a mode other than "silent".
InstallerArguments parseInstallerArguments(const std::vector<std::string>& arguments);

} // namespace sample::installer
