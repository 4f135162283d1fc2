// The sample silent installer: installs the sample service host that lies beside it (in the
// extracted kci archive) and records the installation in "LatestInstall.info".
//
//   QuillbeckServiceHostInstaller [-source DIR] -mode silent [-triggeredby TEXT]
//                                 [-installationroot DIR]
//
// It installs the version its archive's kci.json announces, after stopping a service host that
// runs (the agent holding the lock), so that the caller starts the new one.
//
// Exit status:
//   0   installed; the service host runs (it is not started here: that is the caller's job)
//   1   the installation failed (payload missing, files not writable, ...)
//   2   bad command line
//   55  the installed service host cannot be run
// Every run appends one line to <user storage root>/installer.log.
#include "InstallerArguments.h"
#include "InstallerLog.h"
#include "ServiceHostInstallation.h"

#include "agent/control/AgentStop.h"
#include "halvexconnector/folderlocations/FolderRoots.h"
#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace folders = halvexconnector::folderlocations;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
using namespace sample::installer;

constexpr int kExitInstalled = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotRunnable = 55;
constexpr std::chrono::seconds kStopGrace{10};

constexpr const char* kUsage = "usage: QuillbeckServiceHostInstaller [-source DIR] -mode silent "
                               "[-triggeredby TEXT] [-installationroot DIR]";

fs::path ownDirectory(const char* argv0) {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        return self.parent_path();
    return fs::absolute(argv0).parent_path();
}

fs::path installationRootFrom(const InstallerArguments& arguments, const fs::path& storageRoot) {
    if (arguments.installationRoot && !arguments.installationRoot->empty())
        return fs::absolute(*arguments.installationRoot);
    return storageRoot / "ServiceHost";
}

fs::path userStorageRoot() {
    return folders::resolveFolderRoots(folders::FolderMode::STANDARD, {}, {}).storageRoot;
}

// The version the archive announces in the kci.json at its root (the installer lies in bin/),
// when it is four numbers; the version this program was built as otherwise.
std::string versionToInstall(const fs::path& ownDir) {
    std::ifstream manifest(ownDir.parent_path() / "kci.json");
    const auto json = nlohmann::json::parse(manifest, nullptr, false);
    if (json.is_object() && json.contains("version") && json["version"].is_string()) {
        const std::string version = json["version"];
        if (std::regex_match(version, std::regex(R"(\d{1,10}(\.\d{1,10}){3})")))
            return version;
    }
    return SAMPLE_INSTALLER_VERSION;
}

// A service host left running would go on running the files replaced below (and keep the new
// one from registering): stop it first, through its lock, as a real installer does.
void stopRunningServiceHost() {
    const fs::path lockRoot =
        folders::resolveFolderRoots(folders::FolderMode::STANDARD, {}, {}).lockRoot;
    for (const auto& stopped : agent::control::stopRunningAgents(lockRoot, kStopGrace)) {
        if (stopped.stopped)
            std::cout << "stopped the running " << stopped.agent.name << " (pid "
                      << stopped.agent.pid << ")\n";
    }
}

void install(const InstallerArguments& arguments, const fs::path& ownDir) {
    const fs::path storageRoot = userStorageRoot();
    const std::string version = versionToInstall(ownDir);
    stopRunningServiceHost();
    const InstalledServiceHost installed = installServiceHost(
        ownDir / kServiceHostFileName, installationRootFrom(arguments, storageRoot), version);
    discovery::writeLatestInstallFile(
        storageRoot, {version, installed.directory.string(), installed.launcher.string()});
    std::cout << "installed " << version << " at " << installed.directory.string() << "\n";
}

// A run that cannot be recorded still reports its own outcome.
void recordRun(const InstallerRun& run) {
    try {
        appendInstallerLogLine(userStorageRoot(), run);
    } catch (const std::exception& error) {
        std::cerr << "warning: cannot write " << kInstallerLogFileName << ": " << error.what()
                  << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    InstallerRun run;
    run.arguments.assign(argv + 1, argv + argc);
    try {
        const InstallerArguments arguments = parseInstallerArguments(run.arguments);
        install(arguments, ownDirectory(argv[0]));
        run.exitCode = kExitInstalled;
    } catch (const ArgumentError& error) {
        run.exitCode = kExitUsage;
        run.message = error.what();
        std::cerr << error.what() << "\n" << kUsage << "\n";
    } catch (const ServiceHostNotRunnable& error) {
        run.exitCode = kExitNotRunnable;
        run.message = error.what();
        std::cerr << error.what() << "\n";
    } catch (const std::exception& error) {
        run.exitCode = kExitFailed;
        run.message = error.what();
        std::cerr << "installation failed: " << error.what() << "\n";
    }
    recordRun(run);
    return run.exitCode;
}
