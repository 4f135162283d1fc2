#include "Outcome.h"

namespace tripwire_host {

using namespace halvexconnector::tripwire;

namespace {

template <class Enumeration> std::string nameOrNumber(Enumeration value) {
    const std::string_view name = enumeratorName(value);
    return name.empty() ? std::to_string(static_cast<int>(value)) : std::string(name);
}

} // namespace

std::string resultName(InstallConnectorResult result) {
    return nameOrNumber(result);
}

std::string statusName(HALVEXServicesInstallStatus status) {
    return nameOrNumber(status);
}

std::string modeName(HALVEXServicesMode mode) {
    return nameOrNumber(mode);
}

std::string plainText(const Outcome& outcome) {
    if (!outcome.text.empty()) {
        return outcome.text;
    }
    return outcome.result.is_string() ? outcome.result.get<std::string>() : outcome.result.dump();
}

std::string jsonText(const Outcome& outcome, std::optional<HALVEXServicesMode> mode) {
    nlohmann::ordered_json object;
    object["schema"] = jsonSchemaVersion;
    object["operation"] = outcome.operation.empty() ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(outcome.operation);
    object["mode"] = mode ? nlohmann::ordered_json(modeName(*mode)) : nlohmann::ordered_json();
    object["result"] = outcome.result;
    if (outcome.error) {
        object["error"] = {{"kind", outcome.error->kind}, {"message", outcome.error->message}};
    }
    for (const auto& [key, value] : outcome.fields.items()) {
        object[key] = value;
    }
    return object.dump();
}

std::string failureLine(const Outcome& outcome) {
    if (!outcome.error) {
        return {};
    }
    const Failure& error = *outcome.error;
    if (error.kind == "failure") {
        return outcome.operation + " failed: " + error.message;
    }
    if (error.kind == "error") {
        return "error: " + error.message;
    }
    return error.message;
}

} // namespace tripwire_host
