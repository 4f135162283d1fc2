#include "InstallerLog.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace sample::installer {

namespace {

std::string utcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis));
    return std::string(text, length) + fraction;
}

nlohmann::json environmentValue(const char* name, bool secret) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return nullptr;
    if (secret && *value != '\0')
        return "***";
    return value;
}

} // namespace

std::string formatInstallerLogLine(const InstallerRun& run) {
    nlohmann::ordered_json line;
    line["time"] = utcTimestamp();
    line["pid"] = static_cast<long>(::getpid());
    line["arguments"] = run.arguments;
    line["QB_PROXY_HOST"] = environmentValue("QB_PROXY_HOST", false);
    line["QB_PROXY_PORT"] = environmentValue("QB_PROXY_PORT", false);
    line["QB_PROXY_USERNAME"] = environmentValue("QB_PROXY_USERNAME", false);
    line["QB_PROXY_PASSWORD"] = environmentValue("QB_PROXY_PASSWORD", true);
    line["exitCode"] = run.exitCode;
    line["message"] = run.message;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void appendInstallerLogLine(const std::filesystem::path& storageRoot, const InstallerRun& run) {
    std::filesystem::create_directories(storageRoot);
    const std::filesystem::path file = storageRoot / kInstallerLogFileName;
    const std::string line = formatInstallerLogLine(run);
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "open " + file.string());
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int error = errno;
    ::close(fd);
    if (written < 0)
        throw std::system_error(error, std::generic_category(), "write " + file.string());
    if (static_cast<std::size_t>(written) != line.size())
        throw std::runtime_error("short write to " + file.string());
}

} // namespace sample::installer
