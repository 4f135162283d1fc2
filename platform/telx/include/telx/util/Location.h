#pragma once

#include <filesystem>

namespace telx::util {

/// The directory that receives events: $QB_TELEMETRY_DIR when set and not empty, else
/// <user storage root>/telemetry with the user storage root
/// $XDG_DATA_HOME/Quillbeck/RodudedOzovizaz ($HOME/.local/share when XDG_DATA_HOME is unset,
/// empty or relative). Read afresh at every call. Throws std::runtime_error when no home
/// directory can be found.
std::filesystem::path getTelemetryDirectory();

/// getTelemetryDirectory() / "events.jsonl".
std::filesystem::path getEventFilePath();

} // namespace telx::util
