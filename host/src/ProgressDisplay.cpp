#include "ProgressDisplay.h"

#include <algorithm>
#include <string>

namespace tripwire_host {

namespace {

// The average over a shorter time swings too much to be worth showing.
constexpr std::chrono::milliseconds shortestRateTime{200};

} // namespace

ProgressDisplay::ProgressDisplay(std::ostream& out, std::size_t width, Clock clock,
                                 std::chrono::milliseconds redrawInterval)
    : out(out), line(width), clock(std::move(clock)), redrawInterval(redrawInterval), width(width) {
}

ProgressDisplay::~ProgressDisplay() {
    clear();
}

void ProgressDisplay::stageEntered(std::string_view description) {
    std::lock_guard<std::mutex> lock(guard);
    if (closed) {
        return;
    }
    clearLine();
    out << description << '\n' << std::flush;
}

void ProgressDisplay::detail(std::string_view text) {
    std::lock_guard<std::mutex> lock(guard);
    if (closed) {
        return;
    }
    clearLine();
    out << "  " << text << '\n' << std::flush;
}

void ProgressDisplay::transferStarted() {
    std::lock_guard<std::mutex> lock(guard);
    if (closed) {
        return;
    }
    clearLine();
    transferStart = clock();
    lastDraw.reset();
}

void ProgressDisplay::transferProgress(std::uint64_t received, std::optional<std::uint64_t> total) {
    std::lock_guard<std::mutex> lock(guard);
    const auto now = clock();
    if (closed || (lastDraw && now - *lastDraw < redrawInterval)) {
        return;
    }
    if (!transferStart) {
        // Progress of a download whose start went unseen: time it from here.
        transferStart = now;
    }
    lastDraw = now;
    draw(line.text({received, total, rate(received, now)}));
}

void ProgressDisplay::status(std::string_view text) {
    std::lock_guard<std::mutex> lock(guard);
    if (!closed) {
        // One column short of the width, as the progress line: a full line would wrap.
        draw(std::string(text.substr(0, width > 0 ? width - 1 : 0)));
    }
}

void ProgressDisplay::draw(const std::string& text) {
    out << '\r' << text;
    if (text.size() < drawnLength) {
        out << std::string(drawnLength - text.size(), ' ');
    }
    out << std::flush;
    drawnLength = std::max(drawnLength, text.size());
}

void ProgressDisplay::close() {
    std::lock_guard<std::mutex> lock(guard);
    clearLine();
    closed = true;
}

void ProgressDisplay::transferFinished() {
    std::lock_guard<std::mutex> lock(guard);
    clearLine();
    transferStart.reset();
    lastDraw.reset();
}

void ProgressDisplay::clear() {
    std::lock_guard<std::mutex> lock(guard);
    clearLine();
}

void ProgressDisplay::clearLine() {
    if (drawnLength == 0) {
        return;
    }
    out << '\r' << std::string(drawnLength, ' ') << '\r' << std::flush;
    drawnLength = 0;
}

std::optional<double> ProgressDisplay::rate(std::uint64_t received,
                                            std::chrono::steady_clock::time_point now) const {
    const auto elapsed = now - *transferStart;
    if (elapsed < shortestRateTime) {
        return std::nullopt;
    }
    return static_cast<double>(received) / std::chrono::duration<double>(elapsed).count();
}

} // namespace tripwire_host
