#pragma once

#include <telx/DataIdentification.h>
#include <telx/TelxData.h>
#include <telx/TelxOption.h>

#include <cstdint>

namespace telx {

/// Sends usage events. Where they go is this library's business alone (see the telx README:
/// one JSON line per event appended to events.jsonl in the telemetry directory).
class LoggingService {
public:
    virtual ~LoggingService();

    /// Stores one event; returns its sequence number in this process (1, 2, ... for the events
    /// this process stored). Safe to call from any number of threads and processes at once.
    /// Copies what it needs: the arguments may be destroyed as soon as it returns.
    /// Throws std::invalid_argument when the product, component or event key is empty, and
    /// telx::WriteError when the event cannot be stored (the file is then left as it was).
    virtual std::uint64_t logData(const DataIdentification& identification, const TelxData& data,
                                  const TelxOption& option) = 0;

    /// The process-wide service. It lives until the process ends.
    static LoggingService& getService();

protected:
    LoggingService() = default;
    LoggingService(const LoggingService&) = delete;
    LoggingService& operator=(const LoggingService&) = delete;
};

} // namespace telx
