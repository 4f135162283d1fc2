#pragma once

#include "agent/control/AgentInfo.h"

#include <chrono>
#include <filesystem>
#include <vector>

#include <sys/types.h>

namespace agent::control {

// What became of one running agent asked to stop.
struct StoppedAgent {
    AgentInfo agent;
    // The pid in the lock file was confirmed to hold the lock, and so was signalled.
    bool signalled = false;
    // It outlived the grace period and got SIGKILL.
    bool killed = false;
    // Its lock is free now.
    bool stopped = false;
};

// Whether process `pid` holds a lock on `lockFile` through a file description of its own (read
// from /proc/<pid>/fdinfo). A pid the file merely names, reused by an unrelated process, holds
// none.
bool holdsLockOn(pid_t pid, const std::filesystem::path& lockFile);

// Ends the agents running under `lockRoot`, each through its lock: SIGTERM goes only to the
// process that the lock file names and that holds the lock (confirmed through a pidfd, so the
// signal cannot reach a process that took the pid over meanwhile); an agent whose lock is still
// held after `grace` gets SIGKILL. Waits until every signalled lock is free (at most a few
// seconds after the SIGKILL). An agent whose holder cannot be confirmed is listed, not signalled.
std::vector<StoppedAgent> stopRunningAgents(const std::filesystem::path& lockRoot,
                                            std::chrono::milliseconds grace);

} // namespace agent::control
