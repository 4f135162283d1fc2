#include "Command.h"
#include "Outcome.h"
#include "VersionArgument.h"

#include "ProgressDisplay.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace tripwire_host {

namespace {

using namespace halvexconnector::tripwire;

// Whether an agent of the service host runs for the mode.
class RunningCommand : public Command {
public:
    std::string name() const override { return "running"; }
    std::string description() const override {
        return "print true when the service host runs for the mode, false otherwise";
    }

    Outcome run(Session& session) override {
        const bool running =
            session.framework().tripwire()->areHALVEXServicesRunning(session.mode());
        Outcome outcome;
        outcome.operation = name();
        outcome.result = running;
        outcome.good = running;
        return outcome;
    }
};

// Whether an installation is present and at least as new as VERSION.
class CheckCommand : public Command {
public:
    std::string name() const override { return "check"; }
    std::string description() const override {
        return "print INSTALLED, OLDER_THAN_REQUIRED or NOT_INSTALLED for the required VERSION";
    }

    void addArguments(CLI::App& subcommand) override {
        subcommand.add_option("VERSION", versionText, "the required version, a.b.c.d")
            ->required()
            ->type_name("VERSION")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    return parseVersion(text) ? std::string()
                                              : "expected four numbers a.b.c.d, each below "
                                                "2^32, not \"" +
                                                    text + "\"";
                },
                "", "version"));
    }

    Outcome run(Session& session) override {
        const auto version = parseVersion(versionText);
        const std::uint32_t required[4] = {(*version)[0], (*version)[1], (*version)[2],
                                           (*version)[3]};
        const HALVEXServicesInstallStatus status =
            session.framework().tripwire()->checkHALVEXServicesInstallation(session.mode(),
                                                                            required);
        Outcome outcome;
        outcome.operation = name();
        outcome.result = statusName(status);
        outcome.good = status == INSTALLED;
        return outcome;
    }

private:
    std::string versionText;
};

// Redraws "waiting for the service host: N s" once a second on a terminal while it lives; the
// module's start can take up to a minute and says nothing meanwhile.
class WaitingLine {
public:
    explicit WaitingLine(const LiveOutput& live)
        : display(*live.out, live.width), worker([this] { run(); }) {}
    ~WaitingLine() {
        {
            std::lock_guard<std::mutex> lock(guard);
            done = true;
        }
        wake.notify_all();
        worker.join();
        display.close();
    }
    WaitingLine(const WaitingLine&) = delete;
    WaitingLine& operator=(const WaitingLine&) = delete;

private:
    void run() {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(guard);
        for (int seconds = 0; !done; ++seconds) {
            display.status("waiting for the service host: " + std::to_string(seconds) + " s");
            wake.wait_until(lock, start + std::chrono::seconds(seconds + 1),
                            [this] { return done; });
        }
    }

    ProgressDisplay display;
    std::mutex guard;
    std::condition_variable wake;
    bool done = false;
    std::thread worker; // last: it starts once everything it uses exists
};

// Starts the installed service host and waits until it runs.
class StartCommand : public Command {
public:
    std::string name() const override { return "start"; }
    std::string description() const override {
        return "start the installed service host; print INSTALLED_AND_STARTED, FAILED_TO_START "
               "or INSTALL_FAILED";
    }

    Outcome run(Session& session) override {
        const InstallConnectorResult result = startAndWait(session);
        Outcome outcome;
        outcome.operation = name();
        outcome.result = resultName(result);
        outcome.good = result == INSTALLED_AND_STARTED;
        if (!outcome.good) {
            session.explainFailure(outcome, "the module gave no reason (see --verbose)");
        }
        return outcome;
    }
};

} // namespace

InstallConnectorResult startAndWait(Session& session) {
    const auto tripwire = session.framework().tripwire();
    std::optional<WaitingLine> waiting;
    if (session.liveOutput()) {
        waiting.emplace(*session.liveOutput());
    }
    return tripwire->startHALVEXServices(session.mode());
}

std::unique_ptr<Command> makeRunningCommand() {
    return std::make_unique<RunningCommand>();
}

std::unique_ptr<Command> makeCheckCommand() {
    return std::make_unique<CheckCommand>();
}

std::unique_ptr<Command> makeStartCommand() {
    return std::make_unique<StartCommand>();
}

} // namespace tripwire_host
