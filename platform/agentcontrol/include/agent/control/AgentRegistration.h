#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace agent::control {

// Thrown when another process already holds the agent's lock.
class AgentAlreadyRunning : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Registers the calling process as a running agent for as long as the object lives: holds an
// exclusive lock on "<lockRoot>/<name>.lock" and writes "<pid>\n<name>\n" into it. The kernel
// drops the lock when the process exits or crashes, so no clean-up is needed for the registry
// to stay right; the file itself stays (an unlocked file is not a running agent).
class AgentRegistration {
public:
    // Creates the lock root when missing. Throws AgentAlreadyRunning when another instance holds
    // the lock, std::invalid_argument for a name that is not a plain file name, and
    // std::system_error when the file cannot be created or locked.
    AgentRegistration(const std::filesystem::path& lockRoot, const std::string& name);
    ~AgentRegistration();

    AgentRegistration(AgentRegistration&& other) noexcept;
    AgentRegistration& operator=(AgentRegistration&& other) noexcept;
    AgentRegistration(const AgentRegistration&) = delete;
    AgentRegistration& operator=(const AgentRegistration&) = delete;

    const std::filesystem::path& lockFile() const { return lockFilePath; }
    const std::string& name() const { return agentName; }

    // Releases the lock now (the destructor does the same).
    void release() noexcept;

private:
    std::filesystem::path lockFilePath;
    std::string agentName;
    int fd = -1;
};

} // namespace agent::control
