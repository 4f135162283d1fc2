#include "Command.h"

#include <cppmicroservices/Bundle.h>

#include <sstream>

namespace tripwire_host {

namespace {

// What the host has loaded: the framework, the bundles it installed, and whether the module's
// service is registered (asking for it would create the service object, so this does not).
class InfoCommand : public Command {
public:
    std::string name() const override { return "info"; }
    std::string description() const override {
        return "show the framework, the installed bundles and whether ITripwire is registered";
    }

    Outcome run(Session& session) override {
        HostFramework& host = session.framework();
        Outcome outcome;
        outcome.operation = name();
        const bool registered = host.tripwireRegistered();

        nlohmann::ordered_json bundles = nlohmann::ordered_json::array();
        std::ostringstream text;
        text << "framework: " << host.framework().GetSymbolicName() << "\n";
        text << "bundles:\n";
        for (const auto& bundle : host.installedBundles()) {
            bundles.push_back(
                {{"symbolicName", bundle.GetSymbolicName()}, {"location", bundle.GetLocation()}});
            text << "  " << bundle.GetSymbolicName() << " " << bundle.GetLocation() << "\n";
        }
        text << "service halvexconnector::tripwire::ITripwire: "
             << (registered ? "registered" : "not registered");

        nlohmann::ordered_json result;
        result["framework"] = host.framework().GetSymbolicName();
        result["bundles"] = bundles;
        result["ITripwire"] = registered;
        outcome.result = result;
        outcome.text = text.str();
        outcome.good = registered;
        return outcome;
    }
};

} // namespace

std::unique_ptr<Command> makeInfoCommand() {
    return std::make_unique<InfoCommand>();
}

} // namespace tripwire_host
