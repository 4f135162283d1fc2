// The sample service host: registers itself as the agent "RodudedOzovizazServiceHost" under the
// lock root of the standard mode and runs until SIGTERM or SIGINT.
//
//   QuillbeckServiceHost [--lock-root DIR]
//
// Exit status:
//   0  stopped by SIGTERM or SIGINT, or another instance already runs under the lock root (the
//      agent the caller wants is running, so a keep-alive must not restart this one)
//   1  the agent could not be registered (lock root not creatable, no home directory, ...)
//   2  bad command line
// Once registered it prints one line "running <pid> <lock file>" on standard output, so a parent
// can wait for it without polling.
#include "agent/control/AgentRegistration.h"
#include "halvexconnector/folderlocations/FolderRoots.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <signal.h>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char* kAgentName = "RodudedOzovizazServiceHost";

constexpr int kExitStopped = 0;
constexpr int kExitAlreadyRunning = 0;
constexpr int kExitRegistrationFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::optional<std::filesystem::path> lockRoot;
};

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--lock-root" && i + 1 < argc && *argv[i + 1] != '\0')
            options.lockRoot = argv[++i];
        else
            return std::nullopt;
    }
    return options;
}

// Blocks the stop signals in every thread so that sigwait receives them. A signal ignored by
// the parent (a shell's background job ignores SIGINT) stays ignored across exec and would be
// discarded even while blocked, so the default disposition is restored first.
sigset_t blockStopSignals() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

int waitForStopSignal(const sigset_t& signals) {
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    return received;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseArguments(argc, argv);
    if (!options) {
        std::cerr << "usage: " << argv[0] << " [--lock-root DIR]\n";
        return kExitUsage;
    }
    const sigset_t stopSignals = blockStopSignals();
    // A parent that stops reading our one line must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        namespace folders = halvexconnector::folderlocations;
        const auto lockRoot =
            options->lockRoot
                ? *options->lockRoot
                : folders::resolveFolderRoots(folders::FolderMode::STANDARD, {}, {}).lockRoot;
        agent::control::AgentRegistration registration(lockRoot, kAgentName);
        std::cout << "running " << ::getpid() << ' ' << registration.lockFile().string()
                  << std::endl;
        waitForStopSignal(stopSignals);
        return kExitStopped;
    } catch (const agent::control::AgentAlreadyRunning& error) {
        std::cerr << kAgentName << ": " << error.what() << "; exiting\n";
        return kExitAlreadyRunning;
    } catch (const std::exception& error) {
        std::cerr << kAgentName << ": cannot register: " << error.what() << '\n';
        return kExitRegistrationFailed;
    }
}
