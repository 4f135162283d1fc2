#include <tripwire/testsupport/ModuleHome.h>

#include <agent/control/AgentDiscovery.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tripwire::testsupport {

namespace fs = std::filesystem;

fs::path staged::root() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stage;
}
fs::path staged::module() {
    return root() /
           "bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl/qbtripwireimpl.so";
}
fs::path staged::declarativeServices() {
    return root() / "lib/libDeclarativeServices.so";
}
fs::path staged::proxyBundle() {
    return root() / "bin/win64/foundation/httpproxy/qbhttpproxybundle.so";
}
fs::path staged::sample(const std::string& program) {
    return root() / "libexec/tripwire/sample" / program;
}
fs::path staged::kciArchive() {
    for (const auto& entry : fs::directory_iterator(root() / "sys/qbds/win64")) {
        if (entry.path().filename().string().starts_with("kci_")) {
            return entry.path();
        }
    }
    throw std::runtime_error("no kci archive in the staged tree");
}

RunningFramework::RunningFramework(const std::vector<fs::path>& bundles)
    : framework(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
    for (const fs::path& bundle : bundles) {
        start(bundle);
    }
}

std::vector<fs::path> RunningFramework::withModule() {
    return {staged::declarativeServices(), staged::module()};
}

void RunningFramework::start(const fs::path& bundle) {
    for (cppmicroservices::Bundle& installed : context().InstallBundles(bundle.string())) {
        installed.Start();
    }
}

std::vector<std::string> RunningFramework::bundleNames() const {
    std::vector<cppmicroservices::Bundle> bundles = context().GetBundles();
    // Ids grow with every installation.
    std::sort(bundles.begin(), bundles.end(),
              [](const auto& a, const auto& b) { return a.GetBundleId() < b.GetBundleId(); });
    std::vector<std::string> names;
    for (const cppmicroservices::Bundle& bundle : bundles) {
        if (bundle.GetBundleId() != framework->GetBundleId()) {
            names.push_back(bundle.GetSymbolicName());
        }
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
    while (!variables.empty()) {
        variables.pop_back();
    }
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
    std::ifstream in(home / "telemetry/events.jsonl");
    for (std::string line; std::getline(in, line);) {
        Json event = Json::parse(line);
        if (event.value("eventKey", "") == key) {
            found.push_back(event["data"]);
        }
    }
    return found;
}

std::vector<fs::path> ModuleHome::workingDirectories() const {
    std::vector<fs::path> found;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(storageRoot(), missing)) {
        if (entry.path().filename().string().starts_with("_tmp_QSHI_")) {
            found.push_back(entry.path());
        }
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
            if (agent.pid > 0 && agent.pid != ::getpid()) {
                ::kill(static_cast<pid_t>(agent.pid), signal);
            }
        }
        if (eventually([this] { return !agentRunning(); })) {
            return;
        }
    }
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::string& terminal,
                               const fs::path& directory)
    : toTerminal(!terminal.empty()) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    posix_spawn_file_actions_addopen(&actions, 1,
                                     toTerminal ? terminal.c_str() : (output / "out").c_str(),
                                     toTerminal ? O_RDWR | O_NOCTTY : O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (output / "err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const int error = ::posix_spawn(&id, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv.at(0));
    }
}

RunningProgram::~RunningProgram() {
    if (!reaped) {
        ::kill(id, SIGKILL);
        finish();
    }
}

std::string RunningProgram::firstLine() const {
    std::string out;
    eventually([&] {
        siginfo_t ended{};
        ::waitid(P_PID, static_cast<id_t>(id), &ended, WEXITED | WNOHANG | WNOWAIT);
        out = readFile(output / "out");
        return out.find('\n') != std::string::npos || ended.si_pid != 0;
    });
    return out.substr(0, out.find('\n'));
}

ProgramRun RunningProgram::finish() {
    int status = 0;
    while (::waitpid(id, &status, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            toTerminal ? std::string() : readFile(output / "out"), readFile(output / "err")};
}

fs::path writeScript(const fs::path& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

bool eventually(const std::function<bool()>& condition) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace tripwire::testsupport
