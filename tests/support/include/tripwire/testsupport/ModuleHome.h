#pragma once

// The module as a host runs it: the staged install tree, a framework made the process's running
// one with chosen bundles started, and a throw-away home that holds every folder, variable and
// telemetry file of one test, with the loopback server as the maker's web domain.
#include <tripwire/testsupport/ChildProcess.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tripwire::testsupport {

using Json = nlohmann::ordered_json;

namespace staged {
std::filesystem::path root(); // TRIPWIRE_STAGE_DIR, set by CTest
std::filesystem::path module();
std::filesystem::path declarativeServices();
std::filesystem::path sample(const std::string& program); // libexec/tripwire/sample/<program>
std::filesystem::path kciArchive();                       // sys/qbds/win64/kci_<version>.zip
} // namespace staged

/// A started framework, the process's running one until stop(), with `bundles` installed and
/// started in order (staged::declarativeServices() first for the module's component).
class RunningFramework {
public:
    explicit RunningFramework(const std::vector<std::filesystem::path>& bundles = {});
    ~RunningFramework() { stop(); }
    RunningFramework(const RunningFramework&) = delete;
    RunningFramework& operator=(const RunningFramework&) = delete;

    /// The runtime and the module, as a host starts them.
    static std::vector<std::filesystem::path> withModule();

    cppmicroservices::BundleContext context() const { return framework->GetBundleContext(); }
    void start(const std::filesystem::path& bundle);
    /// Symbolic names of the installed bundles in the order they came in.
    std::vector<std::string> bundleNames() const;
    /// A fresh lookup of the service, empty when none is registered.
    template <class S> std::shared_ptr<S> service() const {
        auto reference = context().GetServiceReference<S>();
        return reference ? context().GetService(reference) : nullptr;
    }
    template <class S, class Impl>
    cppmicroservices::ServiceRegistration<S>
    offer(std::shared_ptr<Impl> impl, const cppmicroservices::ServiceProperties& p = {}) {
        return context().RegisterService<S>(std::move(impl), p);
    }
    void stop();

private:
    std::shared_ptr<cppmicroservices::Framework> framework;
    bool stopped = false;
};

/// HOME, XDG_DATA_HOME and QB_TELEMETRY_DIR inside a temporary directory; the install tree is the
/// staged one, local sources are searched in sources() (empty), the download location is the
/// default, no proxy of the machine comes between the module and the loopback server.
class ModuleHome {
public:
    explicit ModuleHome(const std::string& featureFlags = "QSHInstallErrorTELX");
    ~ModuleHome();
    ModuleHome(const ModuleHome&) = delete;
    ModuleHome& operator=(const ModuleHome&) = delete;

    const std::filesystem::path& path() const { return home.path(); }
    std::filesystem::path operator/(const std::string& name) const { return home / name; }
    std::filesystem::path sources() const { return home / "sources"; }
    std::filesystem::path storageRoot() const;
    std::filesystem::path lockRoot() const { return storageRoot() / "locks"; }
    std::filesystem::path driveRoot() const;
    LoopbackServer& server() { return loopback; }

    /// Sets (nullopt: unsets) a variable until the home goes; later settings win.
    void set(const std::string& name, const std::optional<std::string>& value);
    /// Serves `archive` as the latest installer `version`, with a fault query on its URL.
    void offer(const std::filesystem::path& archive, const std::string& version,
               const std::string& fault = {});
    /// The "data" of each telemetry event with this key, in the order they were sent.
    std::vector<Json> events(const std::string& key = "HX_QSH_INSTALL") const;
    /// Entries of the storage root named like generated working directories.
    std::vector<std::filesystem::path> workingDirectories() const;
    /// Whether an agent holds its lock under `lockRoot` (default: the standard one).
    bool agentRunning(const std::optional<std::filesystem::path>& lockRoot = std::nullopt) const;
    /// Ends every agent process under the standard lock root (SIGTERM, then SIGKILL).
    void stopAgents() const;

private:
    TempDirectory home;
    LoopbackServer loopback;
    std::vector<std::unique_ptr<ScopedVariable>> variables;
};

/// Writes LatestInstall.info into `root`: an installation of `version` started by `launcher`.
void describeInstallation(const std::filesystem::path& root, const std::string& version,
                          const std::filesystem::path& launcher);
/// Sets or clears the immutable flag, which stops even the super-user from removing the file;
/// false where the file system has no such flag.
bool pin(const std::filesystem::path& file, bool on = true);
/// Keys of a JSON object in their order.
std::vector<std::string> keysOf(const Json& object);

} // namespace tripwire::testsupport
