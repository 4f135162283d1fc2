#include <telx/util/Location.h>

#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace telx::util {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::filesystem::path homeDirectory() {
    if (const auto home = environment("HOME"); !home.empty()) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
        return result->pw_dir;
    }
    throw std::runtime_error("telx: no home directory for the telemetry directory (HOME unset)");
}

// The same root as the folder-locations library computes; kept here so that telemetry depends
// on nothing but the environment.
std::filesystem::path userStorageRoot() {
    std::filesystem::path dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.is_relative()) {
        dataHome = homeDirectory() / ".local" / "share";
    }
    return dataHome / "Quillbeck" / "RodudedOzovizaz";
}

} // namespace

std::filesystem::path getTelemetryDirectory() {
    if (auto dir = environment("QB_TELEMETRY_DIR"); !dir.empty()) {
        return dir;
    }
    return userStorageRoot() / "telemetry";
}

std::filesystem::path getEventFilePath() {
    return getTelemetryDirectory() / "events.jsonl";
}

} // namespace telx::util
