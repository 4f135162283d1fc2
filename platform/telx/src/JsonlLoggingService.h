#pragma once

#include <telx/LoggingService.h>

#include <cstdint>
#include <mutex>

namespace telx::detail {

/// The process-wide service: appends each event as one line to the event file.
class JsonlLoggingService final : public LoggingService {
public:
    static JsonlLoggingService& instance();

    std::uint64_t logData(const DataIdentification& identification, const TelxData& data,
                          const TelxOption& option) override;

private:
    JsonlLoggingService();

    static void beforeFork();
    static void afterForkInParent();
    static void afterForkInChild();

    // Held while a line is numbered and appended, so that numbers and file order agree.
    std::mutex mutex;
    std::uint64_t lastSequence = 0;
};

} // namespace telx::detail
