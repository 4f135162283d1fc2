#include <tripwire/testsupport/ModuleHome.h>

#include <tripwire/InstallLayout.h>

#include <agent/control/AgentDiscovery.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <stdexcept>

namespace tripwire::testsupport {

namespace fs = std::filesystem;

fs::path staged::root() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0')
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    return stage;
}
fs::path staged::module() {
    return root() / layout::moduleBundle;
}
fs::path staged::declarativeServices() {
    return root() / layout::declarativeServices;
}
fs::path staged::sample(const std::string& program) {
    return root() / layout::sampleDirectory / program;
}
fs::path staged::kciArchive() {
    for (const auto& entry : fs::directory_iterator(root() / layout::localSourcesDirectory)) {
        if (entry.path().filename().string().starts_with("kci_"))
            return entry.path();
    }
    throw std::runtime_error("no kci archive in the staged tree");
}

RunningFramework::RunningFramework(const std::vector<fs::path>& bundles)
    : framework(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
    for (const fs::path& bundle : bundles)
        start(bundle);
}

std::vector<fs::path> RunningFramework::withModule() {
    return {staged::declarativeServices(), staged::module()};
}

void RunningFramework::start(const fs::path& bundle) {
    for (cppmicroservices::Bundle& installed : context().InstallBundles(bundle.string()))
        installed.Start();
}

std::vector<std::string> RunningFramework::bundleNames() const {
    std::vector<cppmicroservices::Bundle> bundles = context().GetBundles();
    // Ids grow with every installation.
    std::sort(bundles.begin(), bundles.end(),
              [](const auto& a, const auto& b) { return a.GetBundleId() < b.GetBundleId(); });
    std::vector<std::string> names;
    for (const cppmicroservices::Bundle& bundle : bundles) {
        if (bundle.GetBundleId() != framework->GetBundleId())
            names.push_back(bundle.GetSymbolicName());
    }
    return names;
}

void RunningFramework::stop() {
    if (!std::exchange(stopped, true)) {
        foundation::cppmicroservices::clearFramework();
        framework->Stop();
        framework->WaitForStop(std::chrono::seconds(10));
    }
}

ModuleHome::ModuleHome(const std::string& featureFlags) {
    set("HOME", path().string());
    set("XDG_DATA_HOME", (home / "data").string());
    set("QB_TELEMETRY_DIR", (home / "telemetry").string());
    set("QB_FEATURE_FLAGS", featureFlags);
    set("QB_INSTALL_ROOT", staged::root().string());
    set("QB_URL_QUILLBECK_DOT_COM", loopback.baseUrl());
    set("QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES", sources().string());
    set("QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION", std::nullopt);
    set("QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT", std::nullopt);
    // One request per injected fault, as the fault tables expect; retries are the client's tests'.
    set("QB_HTTPCLIENT_RETRIES", "0");
    for (const char* proxy :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        set(proxy, std::nullopt);
    }
    set("no_proxy", "127.0.0.1,localhost");
    set("NO_PROXY", "127.0.0.1,localhost");
    fs::create_directories(sources());
}

ModuleHome::~ModuleHome() {
    stopAgents();
    // Newest first, so that a variable set twice gets its first value back.
    while (!variables.empty())
        variables.pop_back();
}

fs::path ModuleHome::storageRoot() const {
    return home / "data/Quillbeck/RodudedOzovizaz";
}
fs::path ModuleHome::driveRoot() const {
    return home / "data/Quillbeck/Drive";
}

void ModuleHome::set(const std::string& name, const std::optional<std::string>& value) {
    variables.push_back(std::make_unique<ScopedVariable>(name, value));
}

void ModuleHome::offer(const fs::path& archive, const std::string& version,
                       const std::string& fault) {
    const std::string name = "kci_" + version + ".zip";
    loopback.addFileFromDisk(name, archive);
    loopback.setLatestDocument(
        latestDocument(version, loopback.fileUrl(name, fault), sha256Hex(readFile(archive))));
}

std::vector<Json> ModuleHome::events(const std::string& key) const {
    std::vector<Json> found;
    for (const std::string& line : linesOf(home / "telemetry/events.jsonl")) {
        Json event = Json::parse(line);
        if (event.value("eventKey", "") == key)
            found.push_back(event["data"]);
    }
    return found;
}

std::vector<fs::path> ModuleHome::workingDirectories() const {
    std::vector<fs::path> found;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(storageRoot(), missing)) {
        if (entry.path().filename().string().starts_with("_tmp_QSHI_"))
            found.push_back(entry.path());
    }
    return found;
}

namespace {
std::vector<agent::control::AgentInfo> agentsUnder(const fs::path& lockRoot) {
    return agent::control::enumerateAllRunningAgents(fl::filesystem::path_from_native(lockRoot), 3);
}
} // namespace

bool ModuleHome::agentRunning(const std::optional<fs::path>& lockRoot) const {
    return !agentsUnder(lockRoot.value_or(this->lockRoot())).empty();
}

void ModuleHome::stopAgents() const {
    for (int signal : {SIGTERM, SIGKILL}) {
        for (const agent::control::AgentInfo& agent : agentsUnder(lockRoot())) {
            if (agent.pid > 0 && agent.pid != ::getpid())
                ::kill(static_cast<pid_t>(agent.pid), signal);
        }
        if (eventually([this] { return !agentRunning(); }, std::chrono::seconds(5)))
            return;
    }
}

void describeInstallation(const fs::path& root, const std::string& version,
                          const fs::path& launcher) {
    writeFile(root / "LatestInstall.info",
              "LatestDSInstallerVersion " + version + "\nLatestDSInstallRoot \"" +
                  launcher.parent_path().string() + "\"\nDSLauncherExecutable \"" +
                  launcher.string() + "\"\n");
}

bool pin(const fs::path& file, bool on) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

} // namespace tripwire::testsupport
