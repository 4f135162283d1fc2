#pragma once

#include <string>
#include <vector>

namespace foundation::core::process {

/// The program to run and its arguments, all UTF-8. Each argument reaches the program as one
/// element of its argument vector exactly as given: nothing is quoted, split or expanded.
class command {
public:
    /// `program` is a path (anything with a '/'), or a bare name that is looked up along the
    /// PATH of the environment the program will get.
    explicit command(std::string program, std::vector<std::string> arguments = {});

    const std::string& program() const noexcept { return programText; }
    const std::vector<std::string>& arguments() const noexcept { return argumentList; }

private:
    std::string programText;
    std::vector<std::string> argumentList;
};

} // namespace foundation::core::process
