#include "agent/control/AgentDiscovery.h"

#include "agent/control/LockFileProbe.h"

#include <fl/filesystem/path_conversion.h>

namespace agent::control {

std::vector<AgentInfo> enumerateAllRunningAgents(const fl::filesystem::basic_path& lockRoot,
                                                 unsigned selection) {
    if (lockRoot.empty())
        return {};
    return enumerateRunningAgentsUnder(fl::filesystem::to_native(lockRoot), selection);
}

bool isAnyAgentRunning(const fl::filesystem::basic_path& lockRoot, unsigned selection) {
    if (lockRoot.empty())
        return false;
    return isAnyAgentRunningUnder(fl::filesystem::to_native(lockRoot), selection);
}

} // namespace agent::control
