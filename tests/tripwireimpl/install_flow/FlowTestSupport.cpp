#include "FlowTestSupport.h"

#include <agent/control/AgentDiscovery.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <tripwire/testsupport/KciArchive.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tripwire_test::flow {

namespace {

using halvexconnector::tripwire::ITripwire;
using testing::IsEmpty;
using tripwire::testsupport::ScopedVariable;

const std::string moduleLoggerName = "halvexconnector::tripwireimpl";

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> splitAtNul(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    for (std::string::size_type end; (end = text.find('\0', begin)) != std::string::npos;
         begin = end + 1) {
        parts.push_back(text.substr(begin, end - begin));
    }
    return parts;
}

// Single quotes for the shell: the text as one word, whatever it holds.
std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Every fixture installer first records itself in a directory of its own below
// $TRIPWIRE_FIXTURE_RUNS (numbered in the order the runs started; mkdir decides races): its
// arguments and environment NUL-separated, and its own path. "recorded" appears last.
const std::string recordingPreamble = R"(runs="${TRIPWIRE_FIXTURE_RUNS:?}"
mkdir -p "$runs"
n=1
while ! mkdir "$runs/$n" 2>/dev/null; do n=$((n + 1)); done
run="$runs/$n"
printf '%s\0' "$@" > "$run/arguments"
env -0 > "$run/environment"
printf '%s' "$0" > "$run/installer"
: > "$run/recorded"
)";

bool waitUntil(const std::function<bool()>& condition) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::vector<agent::control::AgentInfo> agentsUnder(const fs::path& lockRoot) {
    return agent::control::enumerateAllRunningAgents(fl::filesystem::path_from_native(lockRoot), 3);
}

} // namespace

fs::path stageDir() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stage;
}

fs::path sampleInstaller() {
    return stageDir() / "libexec" / "tripwire" / "sample" / "QuillbeckServiceHostInstaller";
}

ModuleInFramework::ModuleInFramework()
    : framework(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
    cppmicroservices::BundleContext bundles = framework->GetBundleContext();
    for (const fs::path& location :
         {stageDir() / "lib" / "libDeclarativeServices.so",
          stageDir() / "bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl/"
                       "qbtripwireimpl.so"}) {
        for (cppmicroservices::Bundle& bundle : bundles.InstallBundles(location.string())) {
            bundle.Start();
        }
    }
}

ModuleInFramework::~ModuleInFramework() {
    stop();
}

std::shared_ptr<ITripwire> ModuleInFramework::tripwire() const {
    cppmicroservices::BundleContext bundles = framework->GetBundleContext();
    return bundles.GetService(bundles.GetServiceReference<ITripwire>());
}

cppmicroservices::BundleContext ModuleInFramework::context() const {
    return framework->GetBundleContext();
}

void ModuleInFramework::stop() {
    if (stopped) {
        return;
    }
    stopped = true;
    foundation::cppmicroservices::clearFramework();
    framework->Stop();
    framework->WaitForStop(std::chrono::seconds(10));
}

void StageRecorder::installStageEntered(InstallStage stage) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(stage);
    }
    if (onStage) {
        onStage(stage);
    }
}

std::vector<InstallStage> StageRecorder::stages() const {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
}

std::string exitWith(int code) {
    return "exit " + std::to_string(code);
}

std::string failFirstRunThenInstallSample(int code) {
    return "if [ \"$1\" = -source ]; then exit " + std::to_string(code) + "; fi\nexec " +
           quoted(sampleInstaller().string()) + " \"$@\"";
}

std::string killSelfOnFirstRun() {
    return "if [ \"$1\" = -source ]; then kill -KILL $$; fi\nexit 0";
}

std::string waitForGate(const fs::path& gate) {
    return "cat " + quoted(gate.string()) + " > /dev/null\nexit 0";
}

const std::vector<std::string>& installSummaryKeys() {
    static const std::vector<std::string> keys{"startTimestamp", "endTimestamp",  "installResult",
                                               "qshVersion",     "installSource", "mode"};
    return keys;
}

const std::vector<std::string>& installEventKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> all = installSummaryKeys();
        for (const char* key :
             {"extractionErrorMessage", "extractionEndTimestamp", "downloadErrorMessage",
              "downloadEndTimestamp", "extractDownloadErrorMessage", "extractDownloadEndTimestamp",
              "installerReturnCode", "installerEndTimestamp", "installerRerunReturnCode",
              "installerRerunEndTimestamp"}) {
            all.emplace_back(key);
        }
        return all;
    }();
    return keys;
}

InstallFlowTest::InstallFlowTest() {
    const auto set = [this](const std::string& name, const std::optional<std::string>& value) {
        variables.push_back(std::make_unique<ScopedVariable>(name, value));
    };
    set("HOME", home().string());
    set("XDG_DATA_HOME", (home() / "data").string());
    set("QB_TELEMETRY_DIR", (home() / "telemetry").string());
    set("QB_FEATURE_FLAGS", "QSHInstallErrorTELX,QSHTripwireStartupTELX");
    set("QB_INSTALL_ROOT", stageDir().string());
    set("QB_URL_QUILLBECK_DOT_COM", server.baseUrl());
    set("QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES", sourcesDir().string());
    set("QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION", std::nullopt);
    set("QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT", std::nullopt);
    set("TRIPWIRE_FIXTURE_RUNS", (home() / "runs").string());
    // No proxy of the machine may come between the tests and the loopback server.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        set(name, std::nullopt);
    }
    set("no_proxy", "127.0.0.1,localhost");
    set("NO_PROXY", "127.0.0.1,localhost");
    fs::create_directories(sourcesDir());
}

void InstallFlowTest::SetUp() {
    module = std::make_unique<ModuleInFramework>();
}

void InstallFlowTest::TearDown() {
    // Releasing the framework ends the keep-alive's supervision; then no service host that a
    // test started outlives it.
    module.reset();
    for (const agent::control::AgentInfo& agent : agentsUnder(lockRoot())) {
        if (agent.pid > 0 && agent.pid != ::getpid()) {
            ::kill(agent.pid, SIGTERM);
        }
    }
    if (!waitUntil([this] { return agentsUnder(lockRoot()).empty(); })) {
        for (const agent::control::AgentInfo& agent : agentsUnder(lockRoot())) {
            ::kill(agent.pid, SIGKILL);
        }
    }
}

fs::path InstallFlowTest::storageRoot() const {
    return home() / "data" / "Quillbeck" / "RodudedOzovizaz";
}

fs::path InstallFlowTest::localFixture(const std::string& body, const std::string& version,
                                       const std::string& name) const {
    const fs::path archive = sourcesDir() / name;
    tripwire::testsupport::writeScriptKciArchive(archive, version, recordingPreamble + body);
    return archive;
}

void InstallFlowTest::offerFixture(const std::string& body, const std::string& version) {
    const fs::path archive = home() / ("offered-" + std::to_string(++offered) + ".zip");
    tripwire::testsupport::writeScriptKciArchive(archive, version, recordingPreamble + body);
    offerArchive(archive, version);
}

void InstallFlowTest::offerArchive(const fs::path& archive, const std::string& version,
                                   const std::string& fault) {
    const std::string name = "kci_" + version + ".zip";
    server.addFileFromDisk(name, archive);
    server.setLatestDocument(tripwire::testsupport::latestDocument(
        version, server.fileUrl(name, fault), tripwire::testsupport::sha256Hex(readFile(archive))));
}

halvexconnector::tripwire::InstallConnectorResult InstallFlowTest::install(
    halvexconnector::tripwire::HALVEXServicesMode mode, const std::string& triggeredBy,
    const std::optional<fs::path>& installationRoot, const std::optional<fs::path>& ignoredPath) {
    boost::optional<fl::filesystem::basic_path> root;
    boost::optional<fl::filesystem::basic_path> ignored;
    if (installationRoot) {
        root = fl::filesystem::path_from_native(*installationRoot);
    }
    if (ignoredPath) {
        ignored = fl::filesystem::path_from_native(*ignoredPath);
    }
    return module->tripwire()->installAndStartHALVEXServices(mode, triggeredBy, ignored, root);
}

std::shared_ptr<StageRecorder>
InstallFlowTest::observeStages(std::function<void(InstallStage)> onStage) const {
    auto recorder = std::make_shared<StageRecorder>(std::move(onStage));
    (void)module->context().RegisterService<halvexconnector::tripwire::IInstallObserver>(recorder);
    return recorder;
}

std::vector<InstallerRun> InstallFlowTest::runs() const {
    std::vector<InstallerRun> result;
    for (int n = 1;; ++n) {
        const fs::path directory = home() / "runs" / std::to_string(n);
        if (!fs::exists(directory / "recorded")) {
            return result;
        }
        InstallerRun run;
        run.directory = directory;
        run.arguments = splitAtNul(readFile(directory / "arguments"));
        for (const std::string& entry : splitAtNul(readFile(directory / "environment"))) {
            const auto equals = entry.find('=');
            if (equals != std::string::npos) {
                run.environment[entry.substr(0, equals)] = entry.substr(equals + 1);
            }
        }
        run.installer = readFile(directory / "installer");
        result.push_back(std::move(run));
    }
}

namespace {

std::vector<Json> telemetryEvents(const fs::path& home) {
    std::vector<Json> events;
    std::ifstream in(home / "telemetry" / "events.jsonl");
    for (std::string line; std::getline(in, line);) {
        events.push_back(Json::parse(line));
    }
    return events;
}

} // namespace

std::vector<Json> InstallFlowTest::installEvents() const {
    std::vector<Json> data;
    for (const Json& event : telemetryEvents(home())) {
        if (event.value("eventKey", "") == "HX_QSH_INSTALL") {
            EXPECT_EQ(event.value("product", ""), "HX");
            EXPECT_EQ(event.value("appComponent", ""), "HX_QSH");
            data.push_back(event["data"]);
        }
    }
    return data;
}

std::size_t InstallFlowTest::startupTimingEvents() const {
    std::size_t count = 0;
    for (const Json& event : telemetryEvents(home())) {
        count += event.value("eventKey", "") == "HX_QSH_STARTUP_TIMING" ? 1 : 0;
    }
    return count;
}

std::vector<LogRecord> InstallFlowTest::moduleRecords() const {
    std::vector<LogRecord> records;
    for (const auto& record : capture.records(moduleLoggerName)) {
        records.emplace_back(record.severity, record.message);
    }
    return records;
}

void InstallFlowTest::expectInstallEvent(const Json& data, const std::string& result,
                                         const FieldExpectations& fields) const {
    std::vector<std::string> keys;
    for (const auto& item : data.items()) {
        keys.push_back(item.key());
    }
    ASSERT_EQ(keys, installEventKeys());
    EXPECT_EQ(data["installResult"], result);
    EXPECT_THAT(data["startTimestamp"].get<std::string>(), isSet());
    EXPECT_THAT(data["endTimestamp"].get<std::string>(), isSet());
    for (const std::string& key : installEventKeys()) {
        if (key == "startTimestamp" || key == "endTimestamp" || key == "installResult") {
            continue;
        }
        const std::string value = data[key].get<std::string>();
        const auto expected = fields.find(key);
        if (expected != fields.end()) {
            EXPECT_THAT(value, expected->second) << key;
        } else {
            EXPECT_THAT(value, IsEmpty()) << key;
        }
    }
    // Each stage stamps its end after the one before it.
    std::string previous = data["startTimestamp"];
    for (const char* key :
         {"extractionEndTimestamp", "downloadEndTimestamp", "extractDownloadEndTimestamp",
          "installerEndTimestamp", "installerRerunEndTimestamp", "endTimestamp"}) {
        const std::string stamp = data[key];
        if (!stamp.empty()) {
            EXPECT_LE(previous, stamp) << key;
            previous = stamp;
        }
    }
}

std::vector<fs::path> InstallFlowTest::generatedWorkingDirectories() const {
    std::vector<fs::path> found;
    for (const std::string& name : entriesOf(storageRoot())) {
        if (name.rfind("_tmp_QSHI_", 0) == 0) {
            found.push_back(storageRoot() / name);
        }
    }
    return found;
}

std::set<std::string> InstallFlowTest::entriesOf(const fs::path& directory) {
    std::set<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        names.insert(it->path().filename().string());
    }
    return names;
}

bool InstallFlowTest::serviceHostRunning() const {
    return !agentsUnder(lockRoot()).empty();
}

} // namespace tripwire_test::flow
