#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tripwire_host {

// The result of one subcommand: what goes to standard output and the exit status.
struct Outcome {
    std::string operation;
    nlohmann::ordered_json result; // the "result" member of the JSON output
    std::string text;              // plain output; when empty, the result as text
    bool good = false;             // exit status 0 when true, 1 otherwise
};

// The enumerator's name, or the number itself for a value outside the enumeration.
std::string resultName(halvexconnector::tripwire::InstallConnectorResult result);
std::string statusName(halvexconnector::tripwire::HALVEXServicesInstallStatus status);
std::string modeName(halvexconnector::tripwire::HALVEXServicesMode mode);

// Plain output: the text when set, else a string result as it is and any other as JSON.
std::string plainText(const Outcome& outcome);
// {"operation": ..., "mode": ..., "result": ...}
std::string jsonText(const Outcome& outcome, halvexconnector::tripwire::HALVEXServicesMode mode);

} // namespace tripwire_host
