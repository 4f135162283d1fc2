// tripwire: a command-line host that loads the module into a framework and calls its service.
//
// Exit status: 0 for the good outcome, 1 for any other result, 2 for a usage error, 3 when the
// operation could not be carried out, 128 + N after the stop signal N (SIGINT, SIGTERM). Every
// status but 0 comes with one line on standard error that says why.
#include "Command.h"
#include "CommandLine.h"
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

#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tripwire_host;

constexpr int exitUsage = 2;
constexpr int exitError = 3;

struct CommonOptions {
    std::string mode = "standard";
    bool json = false;
    std::string logMask;
    std::string logFile;
    bool verbose = false;
    FolderOverrides overrides;
};

// On the program and on every subcommand, so that each help lists them and they may come before
// or after the subcommand.
void addCommonOptions(CLI::App& app, CommonOptions& options) {
    app.add_option("--mode", options.mode, "standard, drive or an integer (default: standard)")
        ->type_name("MODE");
    app.add_flag("--json", options.json, "print one JSON object (schema in the README)");
    app.add_option("--log-mask", options.logMask, "severity mask, decimal or 0x hex")
        ->type_name("MASK");
    app.add_option("--log-file", options.logFile, "also append log records to FILE")
        ->type_name("FILE");
    app.add_flag("--verbose", options.verbose, "write log records and error details to stderr");
    app.add_option("--first-folder-override", options.overrides.first,
                   "offer DIR as the user storage root override")
        ->type_name("DIR");
    app.add_option("--second-folder-override", options.overrides.second,
                   "offer DIR as the lock root override")
        ->type_name("DIR");
}

// Applies the logging options; the message of a usage error, when there is one.
std::optional<std::string> configureLogging(const CommonOptions& options) {
    if (!options.logMask.empty()) {
        auto mask = foundation::log::parse_severity_mask(options.logMask);
        if (!mask) {
            return "--log-mask: not a 32-bit decimal or 0x hex number: " + options.logMask;
        }
        foundation::log::set_severity_mask(*mask);
    }
    if (!options.logFile.empty()) {
        try {
            foundation::log::add_file_sink(options.logFile);
        } catch (const std::exception& error) {
            return "--log-file: " + std::string(error.what());
        }
    }
    if (options.verbose) {
        foundation::log::add_console_sink();
    }
    return std::nullopt;
}

// Progress is shown only to a person watching a terminal, never mixed into JSON or a pipe.
std::optional<LiveOutput> liveOutput(const CommonOptions& options) {
    if (options.json) {
        return std::nullopt;
    }
    const auto width = terminalWidth(STDOUT_FILENO);
    if (!width) {
        return std::nullopt;
    }
    return LiveOutput{&std::cout, *width};
}

// Prints the outcome (standard output) and why it is not good (standard error); the exit status.
int finish(const Outcome& outcome, bool json,
           std::optional<halvexconnector::tripwire::HALVEXServicesMode> mode, int status) {
    if (json) {
        std::cout << jsonText(outcome, mode) << "\n" << std::flush;
    } else if (!outcome.result.is_null()) {
        std::cout << plainText(outcome) << "\n" << std::flush;
    }
    if (const std::string line = failureLine(outcome); !line.empty()) {
        std::cerr << "tripwire: " << line << "\n";
    }
    foundation::log::flush();
    return status;
}

int usageError(const std::string& operation, const std::string& message, bool json,
               std::optional<halvexconnector::tripwire::HALVEXServicesMode> mode = std::nullopt) {
    Outcome outcome;
    outcome.operation = operation;
    outcome.result = nullptr;
    outcome.error = Failure{"usage", message};
    return finish(outcome, json, mode, exitUsage);
}

std::string signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : std::to_string(signal);
}

} // namespace

int main(int argc, char** argv) {
    // Before any other thread exists: every thread inherits the blocked stop signals.
    StopSignals stopSignals;

    auto table = commandTable();
    std::vector<std::string> commandNames;
    for (const auto& command : table) {
        commandNames.push_back(command->name());
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const CommandLineScan scan = scanCommandLine(arguments, commandNames);
    if (scan.unknownCommand) {
        return usageError({}, *scan.unknownCommand, scan.json);
    }

    CLI::App app{"Makes sure the service host is installed and running, through the tripwire "
                 "module loaded into a service framework.",
                 "tripwire"};
    app.set_version_flag("--version", std::string("tripwire ") + TRIPWIRE_VERSION);
    app.footer(helpFooter());
    CommonOptions options;
    addCommonOptions(app, options);

    for (auto& command : table) {
        CLI::App* sub = app.add_subcommand(command->name(), command->description());
        sub->fallthrough();
        sub->footer(helpFooter());
        addCommonOptions(*sub, options);
        command->addArguments(*sub);
    }
    app.require_subcommand(1);

    Command* chosen = nullptr;
    try {
        std::vector<std::string> reversed(scan.arguments.rbegin(), scan.arguments.rend());
        app.parse(reversed); // the parser takes its words from the back
    } catch (const CLI::Success& done) {
        if (!scan.json) {
            return app.exit(done);
        }
        // The help (or the version) as the result of the one object that --json promises.
        std::ostringstream text;
        app.exit(done, text, text);
        Outcome outcome;
        outcome.operation =
            dynamic_cast<const CLI::CallForVersion*>(&done) != nullptr ? "version" : "help";
        std::string shown = text.str();
        shown.erase(shown.find_last_not_of('\n') + 1);
        outcome.result = shown;
        outcome.good = true;
        return finish(outcome, true, std::nullopt, 0);
    } catch (const CLI::ParseError& error) {
        for (auto& command : table) {
            if (app.got_subcommand(command->name())) {
                chosen = command.get();
            }
        }
        std::string message = error.what();
        if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && chosen == nullptr) {
            message =
                "a command is required: " + joinedNames(commandNames) + " (see tripwire --help)";
        }
        return usageError(chosen ? chosen->name() : std::string(), message, scan.json);
    }
    for (auto& command : table) {
        if (app.got_subcommand(command->name())) {
            chosen = command.get();
        }
    }

    const auto mode = parseMode(options.mode);
    if (!mode) {
        return usageError(chosen->name(),
                          "--mode: expected standard, drive or an integer, not \"" + options.mode +
                              "\"",
                          options.json);
    }
    if (const auto problem = configureLogging(options)) {
        return usageError(chosen->name(), *problem, options.json, mode);
    }

    Outcome outcome;
    int status = 0;
    try {
        // The session's end stops the framework: the service object is deactivated and
        // released before the result is printed. SIGINT or SIGTERM stops it earlier, which
        // makes a waiting start give up.
        Session session(InstallTree::ofRunningProgram(), *mode, options.overrides, &stopSignals,
                        liveOutput(options), options.json);
        outcome = chosen->run(session);
        status = outcome.good ? 0 : 1;
    } catch (...) {
        if (options.verbose) {
            std::cerr << boost::current_exception_diagnostic_information(true);
        }
        outcome = Outcome{};
        outcome.operation = chosen->name();
        outcome.result = nullptr;
        outcome.error = Failure{"error", currentExceptionMessage()};
        status = exitError;
    }
    if (const int signal = stopSignals.received(); signal != 0) {
        outcome.error = Failure{"interrupted", "interrupted (" + signalName(signal) + ")"};
        status = 128 + signal;
    }
    return finish(outcome, options.json, *mode, status);
}
