#include "Command.h"

namespace tripwire_host {

std::vector<std::unique_ptr<Command>> commandTable() {
    std::vector<std::unique_ptr<Command>> table;
    table.push_back(makeInfoCommand());
    table.push_back(makeRunningCommand());
    table.push_back(makeCheckCommand());
    table.push_back(makeStartCommand());
    table.push_back(makeInstallCommand());
    table.push_back(makeEnsureCommand());
    table.push_back(makeStatusCommand());
    table.push_back(makeStopCommand());
    table.push_back(makeWatchCommand());
    return table;
}

} // namespace tripwire_host
