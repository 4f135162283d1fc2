#pragma once

#include "agent/control/AgentInfo.h"
#include "agent/control/AgentSelection.h"

#include <fl/filesystem/basic_path.h>

#include <vector>

namespace agent::control {

// The agents running under `lockRoot`, sorted by name; `selection` is a set of AgentSelection
// bits (3: every running agent, whoever runs it). An empty, missing or unreadable lock root
// gives an empty list. The probe never takes an agent's lock.
std::vector<AgentInfo> enumerateAllRunningAgents(const fl::filesystem::basic_path& lockRoot,
                                                 unsigned selection);

// Whether enumerateAllRunningAgents would list anyone, found with less work: it stops at the
// first running agent and reads no pid.
bool isAnyAgentRunning(const fl::filesystem::basic_path& lockRoot, unsigned selection);

} // namespace agent::control
