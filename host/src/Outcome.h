#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace tripwire_host {

// The version of the JSON object's layout; raised whenever a member changes meaning or goes.
inline constexpr int jsonSchemaVersion = 1;

// Why a command did not give its good outcome. `kind` is "failure" (the operation ran and failed),
// "error" (it could not be carried out), "usage" or "interrupted".
struct Failure {
    std::string kind;
    std::string message;
};

// The result of one subcommand: what goes to standard output and the exit status.
struct Outcome {
    std::string operation;
    nlohmann::ordered_json result; // the "result" member of the JSON output
    std::string text;              // plain output; when empty, the result as text
    bool good = false;             // exit status 0 when true, 1 otherwise
    // Members of the command's own, added to the JSON object after "result".
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    std::optional<Failure> error;
};

// The enumerator's name, or the number itself for a value outside the enumeration.
std::string resultName(halvexconnector::tripwire::InstallConnectorResult result);
std::string statusName(halvexconnector::tripwire::HALVEXServicesInstallStatus status);
std::string modeName(halvexconnector::tripwire::HALVEXServicesMode mode);

// Plain output: the text when set, else a string result as it is and any other as JSON.
std::string plainText(const Outcome& outcome);
// {"schema", "operation", "mode", "result", ["error",] fields...}; an empty operation or a mode
// not known (a usage error) reads as null.
std::string jsonText(const Outcome& outcome,
                     std::optional<halvexconnector::tripwire::HALVEXServicesMode> mode);
// The one line on standard error that says why, without the program's name.
std::string failureLine(const Outcome& outcome);

} // namespace tripwire_host
