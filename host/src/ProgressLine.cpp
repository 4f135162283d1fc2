#include "ProgressLine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tripwire_host {

namespace {

// A bar narrower than this tells nothing; the line goes without it.
constexpr std::size_t smallestBar = 10;
constexpr std::size_t widestBar = 40;
constexpr std::chrono::hours longestTimeLeft{100};

// "[#####     ]  42%" with `inner` columns between the brackets.
std::string bar(std::uint64_t received, std::uint64_t total, std::size_t inner) {
    const std::uint64_t done = std::min(received, total);
    const auto filled = static_cast<std::size_t>(static_cast<long double>(done) * inner /
                                                 static_cast<long double>(total));
    const auto percent = static_cast<unsigned>(static_cast<long double>(done) * 100 / total);
    std::ostringstream out;
    out << '[' << std::string(filled, '#') << std::string(inner - filled, ' ') << "] "
        << std::setw(3) << percent << '%';
    return out.str();
}

} // namespace

std::string ProgressLine::formatBytes(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    static constexpr std::array<const char*, 5> units = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // Move up before rounding would show "1024.0".
    while (value >= 1023.95 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << value << ' ' << units[unit];
    return out.str();
}

std::string ProgressLine::formatRate(double bytesPerSecond) {
    const double whole = std::isfinite(bytesPerSecond) && bytesPerSecond > 0
                             ? std::floor(std::min(bytesPerSecond, 1e18))
                             : 0.0;
    return formatBytes(static_cast<std::uint64_t>(whole)) + "/s";
}

std::string ProgressLine::formatDuration(std::chrono::seconds duration) {
    const long long total = std::max<long long>(duration.count(), 0);
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long seconds = total % 60;
    std::ostringstream out;
    out << std::setfill('0');
    if (hours > 0) {
        out << hours << ':' << std::setw(2) << minutes;
    } else {
        out << minutes;
    }
    out << ':' << std::setw(2) << seconds;
    return out.str();
}

std::optional<std::chrono::seconds> ProgressLine::timeLeft(const TransferSnapshot& snapshot) {
    if (!snapshot.total || !snapshot.bytesPerSecond || !std::isfinite(*snapshot.bytesPerSecond) ||
        *snapshot.bytesPerSecond <= 0) {
        return std::nullopt;
    }
    const std::uint64_t remaining =
        *snapshot.total > snapshot.received ? *snapshot.total - snapshot.received : 0;
    const double seconds = std::ceil(static_cast<double>(remaining) / *snapshot.bytesPerSecond);
    if (seconds >= static_cast<double>(std::chrono::seconds(longestTimeLeft).count())) {
        return std::nullopt;
    }
    return std::chrono::seconds(static_cast<long long>(seconds));
}

std::string ProgressLine::text(const TransferSnapshot& snapshot) const {
    std::string info = formatBytes(snapshot.received);
    if (snapshot.total) {
        info += " / " + formatBytes(*snapshot.total);
    }
    if (snapshot.bytesPerSecond) {
        info += "  " + formatRate(*snapshot.bytesPerSecond);
    }
    if (const auto left = timeLeft(snapshot)) {
        info += "  " + formatDuration(*left) + " left";
    }

    const std::size_t room = width > 0 ? width - 1 : 0;
    if (info.size() >= room) {
        return info.substr(0, room);
    }
    // Between the text and the bar two blanks; the bar's brackets, a blank and " 42%" take 7.
    constexpr std::size_t barFrame = 2 + 7;
    if (snapshot.total && *snapshot.total > 0 && room - info.size() >= barFrame + smallestBar) {
        const std::size_t inner = std::min(room - info.size() - barFrame, widestBar);
        info += "  " + bar(snapshot.received, *snapshot.total, inner);
    }
    return info;
}

} // namespace tripwire_host
