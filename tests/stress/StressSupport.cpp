#include "StressSupport.h"

#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <tripwire/testsupport/KciArchive.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace tripwire_stress {

namespace {

using tripwire::testsupport::ScopedVariable;

std::string stageDirectory() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stage;
}

} // namespace

std::string kciArchiveWithInstaller(const std::string& scriptBody, std::size_t payloadBytes) {
    using tripwire::testsupport::ArchiveEntry;
    std::vector<ArchiveEntry> entries{{"bin/install", "#!/bin/sh\n" + scriptBody + "\n", true}};
    if (payloadBytes > 0) {
        std::mt19937_64 random(payloadBytes);
        std::string payload(payloadBytes, '\0');
        for (char& byte : payload) {
            byte = static_cast<char>(random());
        }
        entries.push_back({"bin/payload", std::move(payload), false});
    }
    const tripwire::testsupport::TempDirectory scratch;
    const fs::path archive = scratch / "kci.zip";
    tripwire::testsupport::writeKciArchive(archive, fixtureVersion, "bin/install", entries);
    std::ifstream in(archive, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

fs::path writeScript(const fs::path& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

StressHome::StressHome() {
    const auto set = [this](const char* name, const std::string& value) {
        variables.push_back(std::make_unique<ScopedVariable>(name, value));
    };
    fs::create_directories(root() / "no-sources");
    set("HOME", root().string());
    set("XDG_DATA_HOME", (root() / "data").string());
    set("QB_TELEMETRY_DIR", (root() / "telemetry").string());
    set("QB_FEATURE_FLAGS", "QSHInstallErrorTELX");
    set("QB_URL_QUILLBECK_DOT_COM", loopback.baseUrl());
    set("QB_INSTALL_ROOT", stageDirectory());
    set("QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES", (root() / "no-sources").string());
    set("QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION", "");
    set("QB_HTTPCLIENT_STALL_SECONDS", "1");
    set("no_proxy", "127.0.0.1,localhost");
    set("NO_PROXY", "127.0.0.1,localhost");
    for (const char* proxy :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        variables.push_back(std::make_unique<ScopedVariable>(proxy, std::nullopt));
    }
}

StressHome::~StressHome() = default;

fs::path StressHome::standardStorageRoot() const {
    return root() / "data" / "Quillbeck" / "RodudedOzovizaz";
}

fs::path StressHome::driveStorageRoot() const {
    return root() / "data" / "Quillbeck" / "Drive";
}

fs::path StressHome::eventFile() const {
    return root() / "telemetry" / "events.jsonl";
}

void StressHome::offer(const std::string& archive, const std::string& fault) {
    loopback.addFile("kci.zip", archive);
    loopback.setLatestDocument(
        tripwire::testsupport::latestDocument(fixtureVersion, loopback.fileUrl("kci.zip", fault),
                                              tripwire::testsupport::sha256Hex(archive)));
}

std::vector<nlohmann::ordered_json> StressHome::installEvents() const {
    std::vector<nlohmann::ordered_json> events;
    std::ifstream in(eventFile());
    std::string line;
    while (std::getline(in, line)) {
        nlohmann::ordered_json event = nlohmann::ordered_json::parse(line);
        if (event.value("eventKey", "") == "HX_QSH_INSTALL") {
            events.push_back(event["data"]);
        }
    }
    return events;
}

std::vector<fs::path> StressHome::leftoverWorkingDirectories() const {
    std::vector<fs::path> left;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(standardStorageRoot(), missing)) {
        if (entry.path().filename().string().starts_with("_tmp_QSHI_")) {
            left.push_back(entry.path());
        }
    }
    return left;
}

BundleHost::BundleHost() : running(startFramework()) {}

BundleHost::~BundleHost() {
    std::shared_ptr<cppmicroservices::Framework> last;
    {
        const std::lock_guard guard(lock);
        last = std::move(running);
    }
    if (last) {
        stopFramework(last);
    }
}

std::shared_ptr<ITripwire> BundleHost::tripwire() {
    const std::lock_guard guard(lock);
    if (!running) {
        return nullptr;
    }
    cppmicroservices::BundleContext context = running->GetBundleContext();
    auto reference = context.GetServiceReference<ITripwire>();
    return reference ? context.GetService(reference) : nullptr;
}

void BundleHost::restart() {
    std::shared_ptr<cppmicroservices::Framework> old;
    {
        const std::lock_guard guard(lock);
        old = std::move(running);
    }
    stopFramework(old);
    std::shared_ptr<cppmicroservices::Framework> fresh = startFramework();
    const std::lock_guard guard(lock);
    running = std::move(fresh);
}

std::shared_ptr<cppmicroservices::Framework> BundleHost::startFramework() {
    auto framework = std::make_shared<cppmicroservices::Framework>(
        cppmicroservices::FrameworkFactory().NewFramework());
    framework->Start();
    const std::string stage = stageDirectory();
    cppmicroservices::BundleContext context = framework->GetBundleContext();
    for (const std::string& location :
         {stage + "/lib/libDeclarativeServices.so",
          stage + "/bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl/"
                  "qbtripwireimpl.so"}) {
        for (auto& bundle : context.InstallBundles(location)) {
            bundle.Start();
        }
    }
    foundation::cppmicroservices::setFramework(framework);
    return framework;
}

void BundleHost::stopFramework(const std::shared_ptr<cppmicroservices::Framework>& framework) {
    foundation::cppmicroservices::clearFramework();
    framework->Stop();
    framework->WaitForStop(std::chrono::seconds(30));
}

Watchdog::Watchdog(std::chrono::seconds limit, std::function<std::string()> describeProgress)
    : watcher([this, limit, describe = std::move(describeProgress)] {
          std::unique_lock guard(lock);
          if (ended.wait_for(guard, limit, [this] { return done; })) {
              return;
          }
          const std::string progress = describe();
          std::fprintf(stderr, "FAILED: the watchdog fired after %lld s, calls are hanging: %s\n",
                       static_cast<long long>(limit.count()), progress.c_str());
          std::fflush(stderr);
          std::_Exit(3);
      }) {}

Watchdog::~Watchdog() {
    {
        const std::lock_guard guard(lock);
        done = true;
    }
    ended.notify_all();
    watcher.join();
}

namespace {

// The inodes of the TCP sockets bound locally to `port`, from /proc/self/net/tcp and tcp6.
std::set<std::string> socketInodesOnPort(int port) {
    std::set<std::string> inodes;
    if (port < 0) {
        return inodes;
    }
    char portText[16];
    std::snprintf(portText, sizeof portText, ":%04X", static_cast<unsigned>(port));
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            if (local.ends_with(portText)) {
                inodes.insert(inode);
            }
        }
    }
    return inodes;
}

std::vector<std::string> openDescriptorTargets(int serverPort) {
    const std::set<std::string> serverSockets = socketInodesOnPort(serverPort);
    std::vector<std::string> targets;
    std::error_code gone; // the directory's own descriptor is closed by the time it is read
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const std::string target = fs::read_symlink(entry.path(), gone).string();
        if (target.starts_with("socket:[") &&
            serverSockets.count(target.substr(8, target.size() - 9)) > 0) {
            continue;
        }
        targets.push_back(entry.path().filename().string() + " -> " + target);
    }
    return targets;
}

} // namespace

std::size_t openDescriptorCount(int serverPort) {
    return openDescriptorTargets(serverPort).size();
}

std::string describeOpenDescriptors(int serverPort) {
    std::string text;
    for (const std::string& target : openDescriptorTargets(serverPort)) {
        text += target + "\n";
    }
    return text;
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace tripwire_stress
