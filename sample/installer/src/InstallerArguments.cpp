#include "InstallerArguments.h"

#include <string_view>

namespace sample::installer {

namespace {

std::optional<std::string>* slotFor(std::string_view option, InstallerArguments& parsed,
                                    std::optional<std::string>& mode) {
    if (option == "-source")
        return &parsed.source;
    if (option == "-mode")
        return &mode;
    if (option == "-triggeredby")
        return &parsed.triggeredBy;
    if (option == "-installationroot")
        return &parsed.installationRoot;
    return nullptr;
}

} // namespace

InstallerArguments parseInstallerArguments(const std::vector<std::string>& arguments) {
    InstallerArguments parsed;
    std::optional<std::string> mode;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        std::optional<std::string>* slot = slotFor(option, parsed, mode);
        if (slot == nullptr)
            throw ArgumentError("unknown argument \"" + option + "\"");
        if (slot->has_value())
            throw ArgumentError("repeated argument \"" + option + "\"");
        if (i + 1 == arguments.size())
            throw ArgumentError("argument \"" + option + "\" needs a value");
        *slot = arguments[++i];
    }
    if (!mode)
        throw ArgumentError("missing \"-mode silent\": only silent installations are supported");
    if (*mode != "silent")
        throw ArgumentError("unsupported mode \"" + *mode + "\": only \"silent\" is supported");
    parsed.mode = *mode;
    return parsed;
}

} // namespace sample::installer
