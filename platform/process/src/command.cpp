#include "foundation/core/process/command.h"

#include <utility>

namespace foundation::core::process {

command::command(std::string program, std::vector<std::string> arguments)
    : programText(std::move(program)), argumentList(std::move(arguments)) {}

} // namespace foundation::core::process
