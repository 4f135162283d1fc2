#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace agent::control {

// One running agent as seen under a lock root.
struct AgentInfo {
    // The agent's name: the lock file's name without ".lock".
    std::string name;
    // The process id the agent wrote into its lock file; 0 when the file held none (yet).
    pid_t pid = 0;
    // The lock file the agent holds.
    std::filesystem::path lockFile;
};

} // namespace agent::control
