#pragma once

#include <fl/filesystem/basic_path.h>

#include <chrono>
#include <functional>
#include <optional>

namespace halvexconnector::serviceprocess::client_lifetime {

/// How a keep-alive restarts its service process, and where an empty path finds the launcher.
/// The defaults are the production values; tests shorten them.
struct KeepAlivePolicy {
    /// Pause before the restart that follows the first abnormal exit; each further abnormal exit
    /// in a row doubles it, up to `longestBackOff`.
    std::chrono::milliseconds firstBackOff{100};
    std::chrono::milliseconds longestBackOff{10'000};

    /// At most this many starts (the first one included) within any `startWindow`; an abnormal
    /// exit that would need one more ends the supervision with a terminal failure.
    unsigned startsPerWindow = 5;
    std::chrono::milliseconds startWindow{60'000};

    /// The launcher that an empty path stands for; empty when none is installed. Unset: the
    /// launcher that installation discovery reports for the standard root.
    std::function<std::optional<fl::filesystem::basic_path>()> launcherLookup;
};

} // namespace halvexconnector::serviceprocess::client_lifetime
