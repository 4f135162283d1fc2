#include "EventLine.h"

#include <nlohmann/json.hpp>

namespace telx::detail {

std::string formatEventLine(const EventHeader& header, const DataIdentification& identification,
                            const TelxData& data) {
    nlohmann::ordered_json event;
    event["format"] = eventLineFormat;
    event["seq"] = header.sequence;
    event["pid"] = header.pid;
    event["sentAt"] = header.sentAt;
    event["product"] = identification.getProduct();
    event["appComponent"] = identification.getAppComponent();
    event["eventKey"] = identification.getEventKey();
    auto fields = nlohmann::ordered_json::object();
    for (const auto& [key, value] : data.getEntries()) {
        fields[key] = value;
    }
    event["data"] = std::move(fields);
    // Compact form: JSON escapes every control character, so the object is one line.
    return event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace telx::detail
