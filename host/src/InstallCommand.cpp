#include "Command.h"
#include "Outcome.h"
#include "ProgressDisplay.h"
#include "ProgressObservers.h"
#include "StandardOutputDiversion.h"

#include <fl/i18n/conversion.h>

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>

namespace tripwire_host {

namespace {

using namespace halvexconnector::tripwire;

// The installer resolves a relative root against a working directory of its own, not ours.
boost::optional<fl::filesystem::basic_path>
installationRootOf(const std::optional<std::string>& root) {
    if (!root) {
        return boost::none;
    }
    const std::string absolute = std::filesystem::absolute(*root).lexically_normal().string();
    return fl::filesystem::basic_path(fl::i18n::utf8_to_ustring(absolute), true);
}

} // namespace

InstallConnectorResult
installAndStart(Session& session, const std::string& triggeredBy,
                const boost::optional<fl::filesystem::basic_path>& installationRoot,
                Outcome& outcome) {
    const auto tripwire = session.framework().tripwire();
    std::optional<ProgressObservers> watching;
    // Without a live display, standard output is for the result alone: what the installer
    // prints goes to standard error.
    std::optional<StandardOutputDiversion> diversion;
    if (!session.liveOutput()) {
        diversion.emplace();
    }
    if (const auto& live = session.liveOutput()) {
        try {
            watching.emplace(session.framework().framework().GetBundleContext(),
                             std::make_shared<ProgressDisplay>(*live->out, live->width),
                             session.stageWatcher());
        } catch (const std::exception&) {
            // A framework already stopped by a signal takes no services; showing progress
            // is a courtesy that never decides whether the attempt is made.
        }
    }
    const InstallConnectorResult result = tripwire->installAndStartHALVEXServices(
        session.mode(), triggeredBy, boost::none, installationRoot);
    if (const auto download = session.stageWatcher()->lastDownload()) {
        outcome.fields["download"] = {{"version", download->version}, {"url", download->url}};
    }
    return result;
}

namespace {

// Installs the service host (from a local archive or a download) and starts it.
class InstallCommand : public Command {
public:
    std::string name() const override { return "install"; }
    std::string description() const override {
        return "install and start the service host; print INSTALLED_AND_STARTED, FAILED_TO_START "
               "or INSTALL_FAILED";
    }

    void addArguments(CLI::App& subcommand) override {
        subcommand
            .add_option("--triggered-by", triggeredBy,
                        "who asked for the install, passed on to the installer")
            ->type_name("TEXT");
        subcommand
            .add_option("--installation-root", installationRoot,
                        "where the installer installs (made absolute)")
            ->type_name("DIR")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    return text.empty() ? std::string("must not be empty") : std::string();
                },
                "", "directory"));
    }

    Outcome run(Session& session) override {
        Outcome outcome;
        const InstallConnectorResult result =
            installAndStart(session, triggeredBy, installationRootOf(installationRoot), outcome);
        outcome.operation = name();
        outcome.result = resultName(result);
        outcome.good = result == INSTALLED_AND_STARTED;
        if (!outcome.good) {
            session.explainFailure(outcome, "the module gave no reason (see --verbose)");
        }
        return outcome;
    }

private:
    std::string triggeredBy;
    std::optional<std::string> installationRoot;
};

} // namespace

std::unique_ptr<Command> makeInstallCommand() {
    return std::make_unique<InstallCommand>();
}

} // namespace tripwire_host
