#pragma once

// What the stress and fault tests share: a throw-away home with the module's environment, fixture
// kci archives, the real bundle in a framework that can be restarted, and views of the process
// (descriptors, resident memory) and of what an attempt left behind.
#include "halvexconnector/tripwire/ITripwire.h"

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <cppmicroservices/Framework.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tripwire_stress {

namespace fs = std::filesystem;
using halvexconnector::tripwire::ITripwire;

inline constexpr const char* fixtureVersion = "9.1.0.7";

// A kci archive (zip) holding kci.json and one executable shell script as its installer, and
// optionally a payload of `payloadBytes` random (incompressible) bytes.
std::string kciArchiveWithInstaller(const std::string& scriptBody, std::size_t payloadBytes = 0);

// An executable "#!/bin/sh" script.
fs::path writeScript(const fs::path& file, const std::string& body);

// The environment of one test: HOME, XDG_DATA_HOME and telemetry inside a temporary directory,
// the maker's web domain on a loopback server, no local install sources (so installs download),
// the install-error details of the event switched on, and no proxy.
class StressHome {
public:
    StressHome();
    ~StressHome();
    StressHome(const StressHome&) = delete;
    StressHome& operator=(const StressHome&) = delete;

    const fs::path& root() const { return home.path(); }
    tripwire::testsupport::LoopbackServer& server() { return loopback; }
    fs::path standardStorageRoot() const;
    fs::path driveStorageRoot() const;
    fs::path eventFile() const;

    // Offers `archive` as the latest installer, optionally with a fault in its URL's query.
    void offer(const std::string& archive, const std::string& fault = {});

    // The install-result events written so far, in order (their "data" objects).
    std::vector<nlohmann::ordered_json> installEvents() const;

    // Working directories of install attempts still in the standard storage root.
    std::vector<fs::path> leftoverWorkingDirectories() const;

private:
    tripwire::testsupport::TempDirectory home;
    tripwire::testsupport::LoopbackServer loopback;
    std::vector<std::unique_ptr<tripwire::testsupport::ScopedVariable>> variables;
};

// The real bundle with the Declarative Services runtime in a framework that is the process's
// running one, as a host sets it up; `restart` stops it and starts a fresh one in its place.
class BundleHost {
public:
    BundleHost();
    ~BundleHost();
    BundleHost(const BundleHost&) = delete;
    BundleHost& operator=(const BundleHost&) = delete;

    // The service object of the framework running now; empty while a restart is under way.
    std::shared_ptr<ITripwire> tripwire();
    void restart();

private:
    static std::shared_ptr<cppmicroservices::Framework> startFramework();
    static void stopFramework(const std::shared_ptr<cppmicroservices::Framework>& framework);

    std::mutex lock;
    std::shared_ptr<cppmicroservices::Framework> running;
};

// Fails the test with a message, and ends the process, when the scope has not ended by the
// deadline: a hung call must not hang CI.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::function<std::string()> describeProgress);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread watcher;
};

// The descriptors open in this process, apart from the sockets of an in-process server on
// `serverPort` (the test kit's, whose stalled answers keep their connections until it stops).
std::size_t openDescriptorCount(int serverPort = -1);
// What each of those descriptors refers to, for failure messages.
std::string describeOpenDescriptors(int serverPort = -1);
std::size_t residentBytes();

} // namespace tripwire_stress
