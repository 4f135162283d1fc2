#pragma once

#include "ProgressLine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>

namespace tripwire_host {

// Shows on a terminal's output what an install attempt is doing: each stage on a line of its own
// and, while a download runs, one progress line redrawn in place with '\r' (at most once per
// redraw interval, the first at once). The progress line is cleared when the download ends, when
// a stage begins and by clear(), so that whatever is printed next starts on a clean line.
// Safe to call from any thread.
class ProgressDisplay {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds DEFAULT_REDRAW_INTERVAL{100};

    ProgressDisplay(std::ostream& out, std::size_t width,
                    Clock clock = std::chrono::steady_clock::now,
                    std::chrono::milliseconds redrawInterval = DEFAULT_REDRAW_INTERVAL);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void stageEntered(std::string_view description);
    // A line of its own under the stage, indented ("  version 1.2.3.4 from https://...").
    void detail(std::string_view text);
    void transferStarted();
    void transferProgress(std::uint64_t received, std::optional<std::uint64_t> total);
    void transferFinished();
    // Draws `text` as the line redrawn in place (cut to the width), e.g. a wait and its seconds.
    void status(std::string_view text);
    void clear();
    // Clears the line for good: whatever is drawn later (a late observer call) is dropped, so
    // the result printed next starts on a clean line.
    void close();

private:
    void clearLine();
    void draw(const std::string& text);
    std::optional<double> rate(std::uint64_t received,
                               std::chrono::steady_clock::time_point now) const;

    std::mutex guard;
    std::ostream& out;
    ProgressLine line;
    Clock clock;
    std::chrono::milliseconds redrawInterval;
    std::optional<std::chrono::steady_clock::time_point> transferStart;
    std::optional<std::chrono::steady_clock::time_point> lastDraw;
    std::size_t drawnLength = 0;
    std::size_t width;
    bool closed = false;
};

} // namespace tripwire_host
