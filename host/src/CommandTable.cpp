#include "Command.h"

namespace tripwire_host {

std::vector<std::unique_ptr<Command>> commandTable() {
    std::vector<std::unique_ptr<Command>> table;
    table.push_back(makeInfoCommand());
    return table;
}

} // namespace tripwire_host
