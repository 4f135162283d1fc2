#include "ModuleTestSupport.h"

#include <agent/control/AgentDiscovery.h>
#include <fl/i18n/conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>
#include <halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tripwire_test {

namespace stdfs = std::filesystem;

ScopedEnv::ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) {
        saved = old;
    }
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (saved) {
        ::setenv(name.c_str(), saved->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

void TempHomeTest::SetUp() {
    std::string pattern = (stdfs::temp_directory_path() / "tripwire-module-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    homeEnv = std::make_unique<ScopedEnv>("HOME", root.c_str());
    dataEnv = std::make_unique<ScopedEnv>("XDG_DATA_HOME", (root / "data").c_str());
    telemetryEnv = std::make_unique<ScopedEnv>("QB_TELEMETRY_DIR", (root / "telemetry").c_str());
    flagsEnv = std::make_unique<ScopedEnv>("QB_FEATURE_FLAGS", nullptr);
}

void TempHomeTest::TearDown() {
    flagsEnv.reset();
    telemetryEnv.reset();
    dataEnv.reset();
    homeEnv.reset();
    std::error_code ignored;
    stdfs::remove_all(root, ignored);
}

stdfs::path TempHomeTest::standardStorageRoot() const {
    return root / "data" / "Quillbeck" / "RodudedOzovizaz";
}

stdfs::path TempHomeTest::driveStorageRoot() const {
    return root / "data" / "Quillbeck" / "Drive";
}

void TempHomeTest::install(const stdfs::path& directory, const std::string& version,
                           const stdfs::path& launcher) const {
    namespace discovery = halvexconnector::latestversion::installationdiscovery;
    discovery::writeLatestInstallFile(
        directory, {version, launcher.parent_path().string(), launcher.string()});
}

stdfs::path TempHomeTest::script(const std::string& name, const std::string& body) const {
    const stdfs::path file = root / name;
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    stdfs::permissions(file, stdfs::perms::owner_all);
    return file;
}

stdfs::path TempHomeTest::sampleServiceHost() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr) {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stdfs::path(stage) / "libexec" / "tripwire" / "sample" / "QuillbeckServiceHost";
}

RunningFramework::RunningFramework()
    : running(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    running->Start();
    foundation::cppmicroservices::setFramework(running);
}

RunningFramework::~RunningFramework() {
    foundation::cppmicroservices::clearFramework();
    running->Stop();
    running->WaitForStop(std::chrono::milliseconds::zero());
}

fl::filesystem::basic_path FixedOverride::firstFolderOverride() const {
    if (failing) {
        throw std::runtime_error("override service failed");
    }
    return {fl::i18n::utf8_to_ustring(first), true};
}

fl::filesystem::basic_path FixedOverride::secondFolderOverride() const {
    if (failing) {
        throw std::runtime_error("override service failed");
    }
    return {fl::i18n::utf8_to_ustring(second), true};
}

cppmicroservices::ServiceRegistrationU registerOverride(RunningFramework& framework,
                                                        std::shared_ptr<FixedOverride> service,
                                                        const std::string& tag) {
    using agent::spf::externalprocessdiscovery::UserStorageRootOverride;
    cppmicroservices::ServiceProperties properties;
    if (!tag.empty()) {
        properties["tag"] = tag;
    }
    return framework.framework().GetBundleContext().RegisterService<UserStorageRootOverride>(
        std::move(service), properties);
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

void stopServiceHost(pid_t pid, const stdfs::path& lockRoot) {
    const fl::filesystem::basic_path root(fl::i18n::utf8_to_ustring(lockRoot.string()), true);
    const auto gone = [&] {
        return agent::control::enumerateAllRunningAgents(root, 3).empty();
    };
    ::kill(pid, SIGTERM);
    if (!eventually(gone)) {
        ::kill(pid, SIGKILL);
        eventually(gone);
    }
}

} // namespace tripwire_test
