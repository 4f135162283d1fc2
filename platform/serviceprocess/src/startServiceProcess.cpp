#include "halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h"

#include "DefaultLauncher.h"
#include "KeepAliveLog.h"
#include "Supervisor.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/write_record.h>

#include <exception>
#include <memory>
#include <string>

namespace halvexconnector::serviceprocess::client_lifetime {

namespace {

// The launcher's file name as the system sees it; empty when there is none to start.
std::string launcherFor(const fl::filesystem::basic_path& path, const KeepAlivePolicy& policy) {
    std::optional<fl::filesystem::basic_path> chosen = path;
    if (path.empty()) {
        chosen = policy.launcherLookup ? policy.launcherLookup() : detail::installedLauncher();
    }
    if (!chosen || chosen->empty()) {
        return {};
    }
    return fl::filesystem::to_native(*chosen).string();
}

} // namespace

ServiceProcessKeepAlive startServiceProcess(const fl::filesystem::basic_path& path) {
    return startServiceProcess(path, KeepAlivePolicy{});
}

ServiceProcessKeepAlive startServiceProcess(const fl::filesystem::basic_path& path,
                                            const KeepAlivePolicy& policy) {
    const std::string launcher = launcherFor(path, policy);
    if (launcher.empty()) {
        foundation::log::write_record(detail::keepAliveLogger(), detail::restartSeverity,
                                      "No service host launcher to start.\n");
        return ServiceProcessKeepAlive();
    }
    const auto startedAt = detail::RestartBudget::Clock::now();
    std::optional<foundation::core::process::process> first;
    try {
        first.emplace(detail::startDetached(launcher));
    } catch (const std::exception& error) {
        // Missing or not startable: nothing to keep alive; the caller sees a terminal failure.
        foundation::log::write_record(detail::keepAliveLogger(), detail::failureSeverity,
                                      "Cannot start the service process: ", error.what(), "\n");
        return ServiceProcessKeepAlive();
    }
    return ServiceProcessKeepAlive(
        std::make_unique<detail::Supervisor>(launcher, policy, std::move(*first), startedAt));
}

} // namespace halvexconnector::serviceprocess::client_lifetime
