#pragma once

#include "agent/control/AgentInfo.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace agent::control {

// File name suffix of an agent's lock file under the lock root.
inline constexpr const char* kLockFileSuffix = ".lock";

// The running agents under a lock root (a directory of "<agent>.lock" files), sorted by name.
// An agent is running while some process holds a lock on its file; the probe only tests for
// that lock and never takes it, so it cannot disturb a running agent, and files left behind by
// agents that died are ignored. An empty, missing or unreadable root gives an empty list;
// entries that cannot be opened or are not regular files are skipped. `selection` is a set of
// AgentSelection bits.
std::vector<AgentInfo> enumerateRunningAgentsUnder(const std::filesystem::path& lockRoot,
                                                   unsigned selection);

// Whether any selected agent runs under the lock root: the same answer as a non-empty
// enumeration, found with less work (it stops at the first held lock and reads no pid).
bool isAnyAgentRunningUnder(const std::filesystem::path& lockRoot, unsigned selection);

// Probes one lock file: the agent when its lock is held, nothing otherwise (also when the file
// cannot be opened).
std::optional<AgentInfo> probeLockFile(const std::filesystem::path& lockFile);

} // namespace agent::control
