// tripwire: a command-line host that loads the module into a framework and calls its service.
//
// Exit status: 0 for the good outcome, 1 for any other result, 2 for a usage error, 3 when the
// operation failed with an exception (its diagnostic text on standard error).
#include "Command.h"
#include "InstallTree.h"
#include "Mode.h"
#include "Outcome.h"
#include "Session.h"
#include "StopSignals.h"
#include "Terminal.h"

#include <foundation/log/configuration.h>

#include <boost/exception/diagnostic_information.hpp>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr int exitUsage = 2;
constexpr int exitFailure = 3;

struct CommonOptions {
    std::string mode = "standard";
    bool json = false;
    std::string logMask;
    std::string logFile;
    bool verbose = false;
    tripwire_host::FolderOverrides overrides;
};

void addCommonOptions(CLI::App& app, CommonOptions& options) {
    app.add_option("--mode", options.mode, "standard, drive or an integer")
        ->default_val("standard");
    app.add_flag("--json", options.json,
                 "print one JSON object {\"operation\", \"mode\", \"result\"}");
    app.add_option("--log-mask", options.logMask, "severity mask, decimal or 0x hex");
    app.add_option("--log-file", options.logFile, "also append log records to this file");
    app.add_flag("--verbose", options.verbose, "write log records to standard error");
    app.add_option("--first-folder-override", options.overrides.first,
                   "offer DIR as the user storage root override");
    app.add_option("--second-folder-override", options.overrides.second,
                   "offer DIR as the lock root override");
}

// Applies the logging options; false (with a message) for a usage error.
bool configureLogging(const CommonOptions& options) {
    if (!options.logMask.empty()) {
        auto mask = foundation::log::parse_severity_mask(options.logMask);
        if (!mask) {
            std::cerr << "--log-mask: not a 32-bit decimal or 0x hex number: " << options.logMask
                      << "\n";
            return false;
        }
        foundation::log::set_severity_mask(*mask);
    }
    if (!options.logFile.empty()) {
        foundation::log::add_file_sink(options.logFile);
    }
    if (options.verbose) {
        foundation::log::add_console_sink();
    }
    return true;
}

// Progress is shown only to a person watching a terminal, never mixed into JSON or a pipe.
std::optional<tripwire_host::LiveOutput> liveOutput(const CommonOptions& options) {
    if (options.json) {
        return std::nullopt;
    }
    const auto width = tripwire_host::terminalWidth(STDOUT_FILENO);
    if (!width) {
        return std::nullopt;
    }
    return tripwire_host::LiveOutput{&std::cout, *width};
}

} // namespace

int main(int argc, char** argv) {
    using namespace tripwire_host;
    // Before any other thread exists: every thread inherits the blocked stop signals.
    StopSignals stopSignals;

    CLI::App app{"Makes sure the service host is installed and running, through the tripwire "
                 "module loaded into a service framework.",
                 "tripwire"};
    app.set_version_flag("--version", std::string("tripwire ") + TRIPWIRE_VERSION);
    CommonOptions options;
    addCommonOptions(app, options);

    auto table = commandTable();
    for (auto& command : table) {
        CLI::App* sub = app.add_subcommand(command->name(), command->description());
        sub->fallthrough();
        command->addArguments(*sub);
    }
    app.require_subcommand(1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return exitUsage;
    }

    auto mode = parseMode(options.mode);
    if (!mode) {
        std::cerr << "--mode: expected standard, drive or an integer, not \"" << options.mode
                  << "\"\n";
        return exitUsage;
    }

    Command* chosen = nullptr;
    for (auto& command : table) {
        if (app.got_subcommand(command->name())) {
            chosen = command.get();
        }
    }

    try {
        if (!configureLogging(options)) {
            return exitUsage;
        }
        std::optional<Outcome> outcome;
        {
            // The session's end stops the framework: the service object is deactivated and
            // released before the result is printed. SIGINT or SIGTERM stops it earlier, which
            // makes a waiting start give up.
            Session session(InstallTree::ofRunningProgram(), *mode, options.overrides, &stopSignals,
                            liveOutput(options));
            outcome = chosen->run(session);
        }
        std::cout << (options.json ? jsonText(*outcome, *mode) : plainText(*outcome)) << "\n";
        foundation::log::flush();
        return outcome->good ? 0 : 1;
    } catch (...) {
        std::cerr << boost::current_exception_diagnostic_information(true);
        foundation::log::flush();
        return exitFailure;
    }
}
