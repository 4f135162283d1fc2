#pragma once

#include <telx/DataSource.h>

#include <string>

namespace telx {

/// What an event is: its source (product and component) and its event key. All three must be
/// set before the event is logged.
class DataIdentification : public DataSource {
public:
    DataIdentification() = default;

    void setEventKey(const std::string& eventKey);
    const std::string& getEventKey() const noexcept { return eventKey; }

private:
    std::string eventKey;
};

} // namespace telx
