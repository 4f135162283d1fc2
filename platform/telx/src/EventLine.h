#pragma once

#include <telx/DataIdentification.h>
#include <telx/TelxData.h>

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace telx::detail {

/// The version of the line layout, written into every line as "format".
inline constexpr int eventLineFormat = 1;

/// What the service adds to each event.
struct EventHeader {
    std::uint64_t sequence;
    pid_t pid;
    std::string sentAt;
};

/// One event as a single-line JSON object followed by "\n". Keys of the data keep their order;
/// invalid UTF-8 in any text is replaced by U+FFFD so that the line is always valid JSON.
std::string formatEventLine(const EventHeader& header, const DataIdentification& identification,
                            const TelxData& data);

} // namespace telx::detail
