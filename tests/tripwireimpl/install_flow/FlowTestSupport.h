#pragma once

// The install flow end to end: the real bundle in a framework with the Declarative Services
// runtime, fixture installers packed as kci archives, the loopback server as the maker's web
// domain, and every folder, variable and telemetry file of one test inside its own home.
#include "halvexconnector/tripwire/IInstallObserver.h"
#include "halvexconnector/tripwire/ITripwire.h"

#include <foundation/log/testing/RecordCapture.h>

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tripwire_test::flow {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using halvexconnector::tripwire::InstallStage;

// The staged install tree of this build (TRIPWIRE_STAGE_DIR).
fs::path stageDir();
// The sample installer and service host staged with the build.
fs::path sampleInstaller();

// The framework a host runs: the Declarative Services runtime and the staged bundle installed
// and started, made the process's running framework until stop().
class ModuleInFramework {
public:
    ModuleInFramework();
    ~ModuleInFramework();
    ModuleInFramework(const ModuleInFramework&) = delete;
    ModuleInFramework& operator=(const ModuleInFramework&) = delete;

    // A fresh reference to the service, as a host gets it.
    std::shared_ptr<halvexconnector::tripwire::ITripwire> tripwire() const;
    cppmicroservices::BundleContext context() const;
    // Withdraws the framework from the process and stops it (deactivating the component).
    void stop();

private:
    std::shared_ptr<cppmicroservices::Framework> framework;
    bool stopped = false;
};

// An observer service that keeps every stage it is told about, and may look around at each.
class StageRecorder : public halvexconnector::tripwire::IInstallObserver {
public:
    explicit StageRecorder(std::function<void(InstallStage)> onStage = {})
        : onStage(std::move(onStage)) {}
    void installStageEntered(InstallStage stage) override;
    std::vector<InstallStage> stages() const;

private:
    std::function<void(InstallStage)> onStage;
    mutable std::mutex mutex;
    std::vector<InstallStage> seen;
};

// One run of a fixture installer as it recorded itself.
struct InstallerRun {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    fs::path installer; // the script's own path while it ran
    fs::path directory; // where the record lies
};

// Bodies for fixture installers (each follows the recording preamble).
std::string exitWith(int code);
// Fails the first run (the one that gets "-source") with `code`; the rerun hands over to the
// staged sample installer.
std::string failFirstRunThenInstallSample(int code = 1);
// Kills itself with SIGKILL on the first run; the rerun exits with 0.
std::string killSelfOnFirstRun();
// Waits until a writer opens and closes the fifo `gate`, then exits with 0.
std::string waitForGate(const fs::path& gate);

// The sixteen keys of the install event with detail flags on, in their order.
const std::vector<std::string>& installEventKeys();
const std::vector<std::string>& installSummaryKeys();

// Matches a set (non-empty) field.
inline testing::Matcher<const std::string&> isSet() {
    return testing::Not(testing::IsEmpty());
}
using FieldExpectations = std::map<std::string, testing::Matcher<const std::string&>>;

// A module log record, as (severity, message).
using LogRecord = std::pair<unsigned, std::string>;

inline const std::string fallbackMessage =
    "Roduded Ozovizaz install expected to find sources but did not, falling back to download.";
inline const std::string extractionFailedPrefix =
    "Roduded Ozovizaz install failed to extract zip.\nException caught: ";

class InstallFlowTest : public testing::Test {
protected:
    InstallFlowTest();
    void SetUp() override;
    void TearDown() override;

    fs::path home() const { return homeDir.path(); }
    fs::path sourcesDir() const { return home() / "sources"; }
    fs::path storageRoot() const;
    fs::path lockRoot() const { return storageRoot() / "locks"; }

    // Packs a script installer with `body` as "<sources>/<name>", found as the local archive.
    fs::path localFixture(const std::string& body, const std::string& version = "7.7.0.1",
                          const std::string& name = "kci_fixture.zip") const;
    // Packs a script installer with `body` and offers it as the latest installer `version`.
    void offerFixture(const std::string& body, const std::string& version);
    // Offers a file on disk as the latest installer `version`, with the server's fault query
    // (e.g. "status=500") on its URL when one is given.
    void offerArchive(const fs::path& archive, const std::string& version,
                      const std::string& fault = {});

    halvexconnector::tripwire::InstallConnectorResult
    install(halvexconnector::tripwire::HALVEXServicesMode mode, const std::string& triggeredBy,
            const std::optional<fs::path>& installationRoot = std::nullopt,
            const std::optional<fs::path>& ignoredPath = std::nullopt);

    // Registers an observer with the framework, the one the module asks at each stage.
    std::shared_ptr<StageRecorder>
    observeStages(std::function<void(InstallStage)> onStage = {}) const;

    // The fixture installers' runs, in the order they started.
    std::vector<InstallerRun> runs() const;
    // The data of every HX_QSH_INSTALL event, and the number of other events.
    std::vector<Json> installEvents() const;
    std::size_t startupTimingEvents() const;
    std::vector<LogRecord> moduleRecords() const;

    // Checks one install event: the sixteen keys in order, the result, the always-set start and
    // end, the given fields, every other field empty, and the timestamps in the order of the
    // stages that set them.
    void expectInstallEvent(const Json& data, const std::string& result,
                            const FieldExpectations& fields) const;

    // Entries of the storage root named like generated working directories.
    std::vector<fs::path> generatedWorkingDirectories() const;
    // Entries of `directory` (names), empty when it does not exist.
    static std::set<std::string> entriesOf(const fs::path& directory);

    bool serviceHostRunning() const;

    tripwire::testsupport::TempDirectory homeDir;
    tripwire::testsupport::LoopbackServer server;
    foundation::log::testing::RecordCapture capture;
    std::unique_ptr<ModuleInFramework> module;

private:
    std::vector<std::unique_ptr<tripwire::testsupport::ScopedVariable>> variables;
    int offered = 0;
};

} // namespace tripwire_test::flow
