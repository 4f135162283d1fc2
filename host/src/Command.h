#pragma once

#include "Outcome.h"
#include "Session.h"

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tripwire_host {

// One subcommand of the host. A command adds its own arguments to its subcommand and, when
// chosen, runs against the session. Failures are thrown (exit status 3).
class Command {
public:
    virtual ~Command() = default;
    virtual std::string name() const = 0;
    virtual std::string description() const = 0;
    virtual void addArguments(CLI::App& /*subcommand*/) {}
    virtual Outcome run(Session& session) = 0;
};

// Every subcommand, in the order of the help text.
std::vector<std::unique_ptr<Command>> commandTable();

std::unique_ptr<Command> makeInfoCommand();
std::unique_ptr<Command> makeRunningCommand();
std::unique_ptr<Command> makeCheckCommand();
std::unique_ptr<Command> makeStartCommand();
std::unique_ptr<Command> makeInstallCommand();
std::unique_ptr<Command> makeStatusCommand();
std::unique_ptr<Command> makeStopCommand();
std::unique_ptr<Command> makeEnsureCommand();
std::unique_ptr<Command> makeWatchCommand();

// The start call; on a terminal "waiting for the service host: N s" is redrawn while it waits.
halvexconnector::tripwire::InstallConnectorResult startAndWait(Session& session);

// The install call with its live display (when the session has one); the installer's own output
// goes to standard error otherwise. Adds to `outcome` the installer it downloaded, if any
// ("download": {"version", "url"}).
halvexconnector::tripwire::InstallConnectorResult
installAndStart(Session& session, const std::string& triggeredBy,
                const boost::optional<fl::filesystem::basic_path>& installationRoot,
                Outcome& outcome);

} // namespace tripwire_host
