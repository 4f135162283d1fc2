#pragma once

#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>
#include <fl/filesystem/basic_path.h>

#include <cppmicroservices/Framework.h>
#include <cppmicroservices/ServiceRegistration.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tripwire_test {

// Sets (nullptr: unsets) one environment variable, restoring it at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name;
    std::optional<std::string> saved;
};

// A temporary HOME and XDG_DATA_HOME for one test, so that every default folder lies inside it.
// Telemetry goes into it as well, with every flag off.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& home() const { return root; }
    std::filesystem::path standardStorageRoot() const;
    std::filesystem::path standardLockRoot() const { return standardStorageRoot() / "locks"; }
    std::filesystem::path driveStorageRoot() const;
    std::filesystem::path driveLockRoot() const { return driveStorageRoot() / "locks"; }

    // Describes an installation in `directory`'s LatestInstall.info.
    void install(const std::filesystem::path& directory, const std::string& version,
                 const std::filesystem::path& launcher) const;

    // An executable shell script "<home>/<name>" with `body` after the "#!/bin/sh" line.
    std::filesystem::path script(const std::string& name, const std::string& body) const;

    // The sample service host staged with the build.
    static std::filesystem::path sampleServiceHost();

private:
    std::filesystem::path root;
    std::unique_ptr<ScopedEnv> homeEnv, dataEnv, telemetryEnv, flagsEnv;
};

// A started framework made the process's running framework for the object's life.
class RunningFramework {
public:
    RunningFramework();
    ~RunningFramework();
    RunningFramework(const RunningFramework&) = delete;
    RunningFramework& operator=(const RunningFramework&) = delete;

    cppmicroservices::Framework& framework() { return *running; }

private:
    std::shared_ptr<cppmicroservices::Framework> running;
};

// An override service with fixed answers, or one that throws when `failing` is set.
class FixedOverride : public agent::spf::externalprocessdiscovery::UserStorageRootOverride {
public:
    FixedOverride(std::string first, std::string second, bool failing = false)
        : first(std::move(first)), second(std::move(second)), failing(failing) {}

    std::string description() const override { return "test"; }
    fl::filesystem::basic_path firstFolderOverride() const override;
    fl::filesystem::basic_path secondFolderOverride() const override;

private:
    std::string first;
    std::string second;
    bool failing;
};

cppmicroservices::ServiceRegistrationU registerOverride(RunningFramework& framework,
                                                        std::shared_ptr<FixedOverride> service,
                                                        const std::string& tag = "");

// Waits (up to a few seconds) until `condition` holds; false when it never did.
bool eventually(const std::function<bool()>& condition);

// Stops a service host process that a test started (SIGTERM, then SIGKILL) and waits until its
// agent's lock is gone from `lockRoot`.
void stopServiceHost(pid_t pid, const std::filesystem::path& lockRoot);

} // namespace tripwire_test
