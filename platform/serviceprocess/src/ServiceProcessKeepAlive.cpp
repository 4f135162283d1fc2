#include "halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h"

#include "Supervisor.h"

#include <utility>

namespace halvexconnector::serviceprocess::client_lifetime {

ServiceProcessKeepAlive::ServiceProcessKeepAlive() noexcept = default;

ServiceProcessKeepAlive::ServiceProcessKeepAlive(
    std::unique_ptr<detail::Supervisor> started) noexcept
    : supervisor(std::move(started)) {}

ServiceProcessKeepAlive::~ServiceProcessKeepAlive() = default;

ServiceProcessKeepAlive::ServiceProcessKeepAlive(ServiceProcessKeepAlive&& other) noexcept
    : supervisor(other.takeSupervisor()) {}

ServiceProcessKeepAlive&
ServiceProcessKeepAlive::operator=(ServiceProcessKeepAlive&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    auto incoming = other.takeSupervisor();
    std::unique_ptr<detail::Supervisor> outgoing;
    {
        const std::lock_guard lock(guard);
        outgoing = std::exchange(supervisor, std::move(incoming));
    }
    // The replaced supervisor stops outside the lock, so readers are never held up by it.
    return *this;
}

std::unique_ptr<detail::Supervisor> ServiceProcessKeepAlive::takeSupervisor() noexcept {
    const std::lock_guard lock(guard);
    return std::move(supervisor);
}

bool ServiceProcessKeepAlive::hasTerminalFailure() const noexcept {
    const std::lock_guard lock(guard);
    return !supervisor || supervisor->hasEnded();
}

void ServiceProcessKeepAlive::reset() noexcept {
    takeSupervisor();
}

std::optional<pid_t> ServiceProcessKeepAlive::processId() const noexcept {
    const std::lock_guard lock(guard);
    return supervisor ? supervisor->processId() : std::nullopt;
}

} // namespace halvexconnector::serviceprocess::client_lifetime
