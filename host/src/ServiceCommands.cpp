// The commands that look after the service host as a whole: status, stop, ensure and watch.
#include "Command.h"
#include "Outcome.h"
#include "VersionArgument.h"

#include <agent/control/AgentSelection.h>
#include <agent/control/AgentStop.h>
#include <agent/control/LockFileProbe.h>
#include <halvexconnector/folderlocations/FolderRoots.h>
#include <halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h>
#include <telx/util/Location.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace tripwire_host {

namespace {

using namespace halvexconnector::tripwire;
namespace folders = halvexconnector::folderlocations;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
using Clock = std::chrono::steady_clock;

folders::FolderRoots rootsOf(const Session& session) {
    const auto path = [](const std::optional<std::string>& text) {
        return text ? std::optional<std::filesystem::path>(*text) : std::nullopt;
    };
    return folders::resolveFolderRoots(
        session.mode() == DRIVE ? folders::FolderMode::DRIVE : folders::FolderMode::STANDARD,
        path(session.folderOverrides().first), path(session.folderOverrides().second));
}

std::vector<agent::control::AgentInfo> runningAgents(const Session& session) {
    return agent::control::enumerateRunningAgentsUnder(rootsOf(session).lockRoot,
                                                       agent::control::ALL_AGENTS);
}

std::string agentText(const agent::control::AgentInfo& agent) {
    return agent.name + " (pid " + std::to_string(agent.pid) + ")";
}

// The last install event in the telemetry file: its result and when it ended. Lines that are
// not JSON (a line being appended, a foreign one) are skipped.
nlohmann::ordered_json lastInstallEvent() {
    std::ifstream events(telx::util::getEventFilePath());
    nlohmann::ordered_json last;
    std::string line;
    while (std::getline(events, line)) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object() && event.contains("data") && event["data"].is_object() &&
            event["data"].contains("installResult")) {
            last = {{"result", event["data"]["installResult"]},
                    {"time", event["data"].value("endTimestamp", std::string())}};
        }
    }
    return last;
}

// Whether the service host runs, what is installed and where everything is, in one view.
class StatusCommand : public Command {
public:
    std::string name() const override { return "status"; }
    std::string description() const override {
        return "show whether the service host runs, what is installed, the folders in use and "
               "the last install";
    }

    Outcome run(Session& session) override {
        const folders::FolderRoots roots = rootsOf(session);
        const auto agents = runningAgents(session);
        const auto installed = discovery::readLatestInstallFile(roots.storageRoot);
        const auto lastInstall = lastInstallEvent();
        const auto& overrides = session.folderOverrides();

        nlohmann::ordered_json result;
        result["running"] = !agents.empty();
        result["agents"] = nlohmann::ordered_json::array();
        std::ostringstream text;
        text << "mode:          " << modeName(session.mode()) << "\n";
        text << "service host:  " << (agents.empty() ? "not running" : "running");
        for (const auto& agent : agents) {
            result["agents"].push_back({{"name", agent.name}, {"pid", agent.pid}});
            text << (&agent == &agents.front() ? ": " : ", ") << agentText(agent);
        }
        text << "\n";
        if (installed.record) {
            result["installation"] = {{"version", installed.record->version},
                                      {"root", installed.record->installRoot},
                                      {"launcher", installed.record->launcher}};
            text << "installed:     " << installed.record->version << "\n"
                 << "installation:  " << installed.record->installRoot << "\n"
                 << "launcher:      " << installed.record->launcher << "\n";
        } else {
            result["installation"] = nullptr;
            text << "installed:     nothing"
                 << (installed.fileMissing ? "" : " (" + installed.problem + ")") << "\n";
        }
        result["storageRoot"] = roots.storageRoot.string();
        result["storageRootOverridden"] = overrides.first.has_value();
        result["lockRoot"] = roots.lockRoot.string();
        result["lockRootOverridden"] = overrides.second.has_value();
        result["lastInstall"] = lastInstall;
        text << "storage root:  " << roots.storageRoot.string()
             << (overrides.first ? " (override)" : "") << "\n"
             << "lock root:     " << roots.lockRoot.string()
             << (overrides.second ? " (override)" : "") << "\n"
             << "last install:  "
             << (lastInstall.is_null() ? std::string("none recorded")
                                       : lastInstall["result"].get<std::string>() + " at " +
                                             lastInstall["time"].get<std::string>());

        Outcome outcome;
        outcome.operation = name();
        outcome.result = result;
        outcome.text = text.str();
        outcome.good = true;
        return outcome;
    }
};

// Ends the running service host agents of the mode, through their locks.
class StopCommand : public Command {
public:
    std::string name() const override { return "stop"; }
    std::string description() const override {
        return "stop the running service host (SIGTERM, SIGKILL after the grace period)";
    }
    void addArguments(CLI::App& subcommand) override {
        subcommand
            .add_option("--grace", graceSeconds,
                        "seconds an agent has to end before it gets SIGKILL (default: 10)")
            ->type_name("SECONDS")
            ->check(CLI::Range(0, 3600));
    }

    Outcome run(Session& session) override {
        const auto reports = agent::control::stopRunningAgents(rootsOf(session).lockRoot,
                                                               std::chrono::seconds(graceSeconds));
        nlohmann::ordered_json stopped = nlohmann::ordered_json::array();
        std::ostringstream text;
        for (const auto& report : reports) {
            if (report.stopped) {
                stopped.push_back({{"name", report.agent.name},
                                   {"pid", report.agent.pid},
                                   {"killed", report.killed}});
                text << (report.killed ? "killed " : "stopped ") << agentText(report.agent) << "\n";
            } else if (!report.signalled) {
                text << "not signalled: " << agentText(report.agent)
                     << ", which does not hold the agent's lock\n";
            } else {
                text << "could not stop " << agentText(report.agent) << "\n";
            }
        }
        const auto left = runningAgents(session);
        nlohmann::ordered_json running = nlohmann::ordered_json::array();
        std::string leftText;
        for (const auto& agent : left) {
            running.push_back({{"name", agent.name}, {"pid", agent.pid}});
            leftText += (leftText.empty() ? "" : ", ") + agentText(agent);
        }
        if (reports.empty()) {
            text << "nothing was running\n";
        }
        Outcome outcome;
        outcome.operation = name();
        outcome.result = {{"stopped", stopped}, {"running", running}};
        outcome.text = text.str();
        if (!outcome.text.empty()) {
            outcome.text.pop_back(); // the final newline: the result line gets its own
        }
        outcome.good = left.empty();
        if (!outcome.good) {
            outcome.error = Failure{"failure", "still running: " + leftText};
        }
        return outcome;
    }

private:
    int graceSeconds = 10;
};

void addVersionArgument(CLI::App& subcommand, std::string& versionText) {
    subcommand.add_option("VERSION", versionText, "the required version, a.b.c.d")
        ->required()
        ->type_name("VERSION")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return parseVersion(text)
                           ? std::string()
                           : "expected four numbers a.b.c.d, each below 2^32, not \"" + text + "\"";
            },
            "", "version"));
}

// Running? Then nothing to do. Installed and new enough? Then start it. Else install.
class EnsureCommand : public Command {
public:
    std::string name() const override { return "ensure"; }
    std::string description() const override {
        return "make sure the service host runs: start it when an installation as new as "
               "VERSION is present, install it otherwise";
    }
    void addArguments(CLI::App& subcommand) override {
        addVersionArgument(subcommand, versionText);
        subcommand
            .add_option("--triggered-by", triggeredBy,
                        "who asked, passed on to the installer when one runs")
            ->type_name("TEXT");
    }

    Outcome run(Session& session) override {
        const auto tripwire = session.framework().tripwire();
        Outcome outcome;
        outcome.operation = name();
        nlohmann::ordered_json decisions = nlohmann::ordered_json::array();
        const auto decide = [&](const std::string& decision) {
            decisions.push_back(decision);
            session.tell(decision);
        };
        if (tripwire->areHALVEXServicesRunning(session.mode())) {
            decide("the service host is running: nothing to do");
            outcome.result = "RUNNING";
        } else {
            decide("the service host is not running");
            const auto version = parseVersion(versionText);
            const std::uint32_t required[4] = {(*version)[0], (*version)[1], (*version)[2],
                                               (*version)[3]};
            const HALVEXServicesInstallStatus status =
                tripwire->checkHALVEXServicesInstallation(session.mode(), required);
            InstallConnectorResult result;
            if (status == INSTALLED) {
                decide("an installation of " + versionText + " or newer is present: starting it");
                result = startAndWait(session);
            } else {
                decide(std::string(status == NOT_INSTALLED
                                       ? "nothing is installed"
                                       : "the installation is older than " + versionText) +
                       ": installing");
                result = installAndStart(session, triggeredBy, boost::none, outcome);
            }
            outcome.result = resultName(result);
        }
        outcome.good = outcome.result == "RUNNING" || outcome.result == "INSTALLED_AND_STARTED";
        outcome.fields["decisions"] = decisions;
        if (!outcome.good) {
            session.explainFailure(outcome, "the module gave no reason (see --verbose)");
        }
        return outcome;
    }

private:
    std::string versionText;
    std::string triggeredBy;
};

// Starts the service host and stays, holding the module and so its keep-alive, which starts a
// service host that dies again, until a stop signal; gives up when the keep-alive has.
class WatchCommand : public Command {
public:
    std::string name() const override { return "watch"; }
    std::string description() const override {
        return "start the service host and keep it running until SIGINT or SIGTERM";
    }
    void addArguments(CLI::App& subcommand) override {
        subcommand
            .add_option("--patience", patienceSeconds,
                        "seconds the service host may stay down before watch gives up "
                        "(default: 12, longer than the keep-alive's longest pause)")
            ->type_name("SECONDS")
            ->check(CLI::Range(1, 3600));
    }

    Outcome run(Session& session) override {
        const auto tripwire = session.framework().tripwire();
        Outcome outcome;
        outcome.operation = name();
        const InstallConnectorResult started = tripwire->startHALVEXServices(session.mode());
        if (started != INSTALLED_AND_STARTED) {
            outcome.result = resultName(started);
            session.explainFailure(outcome, "the module gave no reason (see --verbose)");
            return outcome;
        }
        std::optional<pid_t> shown;
        auto lastSeen = Clock::now();
        unsigned restarts = 0;
        while (session.stopSignals() == nullptr || session.stopSignals()->received() == 0) {
            const auto agents = runningAgents(session);
            if (!agents.empty()) {
                lastSeen = Clock::now();
                if (shown && *shown != agents.front().pid) {
                    ++restarts;
                    std::cerr << "tripwire: the service host was started again: "
                              << agentText(agents.front()) << "\n";
                } else if (!shown) {
                    std::cerr << "tripwire: watching " << agentText(agents.front()) << "\n";
                }
                shown = agents.front().pid;
            } else if (Clock::now() - lastSeen > std::chrono::seconds(patienceSeconds)) {
                outcome.result = "GAVE_UP";
                outcome.error =
                    Failure{"failure", "the service host keeps ending and was not started again "
                                       "for " +
                                           std::to_string(patienceSeconds) +
                                           " s: the keep-alive's restart budget is spent"};
                outcome.fields["restarts"] = restarts;
                return outcome;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        outcome.result = "STOPPED";
        outcome.fields["restarts"] = restarts;
        outcome.good = true;
        return outcome;
    }

private:
    int patienceSeconds = 12;
};

} // namespace

std::unique_ptr<Command> makeStatusCommand() {
    return std::make_unique<StatusCommand>();
}
std::unique_ptr<Command> makeStopCommand() {
    return std::make_unique<StopCommand>();
}
std::unique_ptr<Command> makeEnsureCommand() {
    return std::make_unique<EnsureCommand>();
}
std::unique_ptr<Command> makeWatchCommand() {
    return std::make_unique<WatchCommand>();
}

} // namespace tripwire_host
