#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace tripwire_host {

// What is known about a running download at one moment.
struct TransferSnapshot {
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total;   // when the server announced a length
    std::optional<double> bytesPerSecond; // once enough time has passed to tell
};

// The text of one progress line for a given width: bytes received (and the total), the rate, the
// time left when the total is known, and a bar filling the remaining room. The line never takes
// more than width - 1 columns, so that a terminal of that width never wraps it; parts that do not
// fit are left out, the bar first.
class ProgressLine {
public:
    explicit ProgressLine(std::size_t width) : width(width) {}

    std::string text(const TransferSnapshot& snapshot) const;
    void write(std::ostream& out, const TransferSnapshot& snapshot) const { out << text(snapshot); }

    // "512 B", "1.5 KiB", "12.3 MiB", "2.0 GiB": binary units, one decimal above bytes.
    static std::string formatBytes(std::uint64_t bytes);
    // formatBytes of the whole bytes per second, followed by "/s".
    static std::string formatRate(double bytesPerSecond);
    // "0:42", "12:05", "1:02:03".
    static std::string formatDuration(std::chrono::seconds duration);
    // The time still needed at the rate, rounded up; none without a usable rate, or when it would
    // be too long to mean anything (100 hours and more).
    static std::optional<std::chrono::seconds> timeLeft(const TransferSnapshot& snapshot);

private:
    std::size_t width;
};

} // namespace tripwire_host
