#pragma once

namespace agent::control {

// Which running agents an enumeration lists. Agents are told apart by the owner of their lock
// file, which is the user the agent runs as. Combine with '|'; 3 lists every running agent
// under the lock root, whoever runs it. 0 lists nothing.
enum AgentSelection : unsigned {
    // Agents of the calling user (lock file owned by the effective uid).
    AGENTS_OF_CURRENT_USER = 1u,
    // Agents of other users (possible only when a lock root is shared).
    AGENTS_OF_OTHER_USERS = 2u,
    ALL_AGENTS = AGENTS_OF_CURRENT_USER | AGENTS_OF_OTHER_USERS,
};

} // namespace agent::control
