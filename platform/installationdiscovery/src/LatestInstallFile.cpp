#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace halvexconnector::latestversion::installationdiscovery {
namespace {

// A description file is a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxFileSize = 64 * 1024;

constexpr std::array<std::string_view, 3> kRequiredKeys = {kVersionKey, kInstallRootKey,
                                                           kLauncherKey};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The value of a quoted field ("..." with \\ and \" unescaped), or nothing when malformed.
std::optional<std::string> unquote(std::string_view text) {
    std::string value;
    size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            ++i;
        value += text[i];
    }
    if (i >= text.size() || i + 1 != text.size())
        return std::nullopt;
    return value;
}

struct Fields {
    std::array<std::optional<std::string>, kRequiredKeys.size()> values;

    std::optional<std::string>* slot(std::string_view key) {
        for (size_t k = 0; k < kRequiredKeys.size(); ++k)
            if (kRequiredKeys[k] == key)
                return &values[k];
        return nullptr;
    }
};

LatestInstallReading invalid(std::string problem) {
    return {std::nullopt, std::move(problem), false};
}

std::string lineLabel(size_t number) {
    return "line " + std::to_string(number) + ": ";
}

std::string quotedValue(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

void requireWritable(std::string_view key, const std::string& value) {
    if (value.empty())
        throw std::invalid_argument(std::string(key) + " is empty");
    if (value.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos)
        throw std::invalid_argument(std::string(key) + " holds a line break or a NUL character");
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& directory)
        : name((directory / (std::string(kLatestInstallFileName) + ".XXXXXX")).string()) {
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            throwErrno("Cannot create a temporary file in " + directory.string());
    }
    ~TemporaryFile() {
        if (fd >= 0)
            ::close(fd);
        if (!committed)
            ::unlink(name.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::write(fd, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throwErrno("Cannot write " + name);
            text.remove_prefix(static_cast<size_t>(n));
        }
        if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)
            throwErrno("Cannot flush " + name);
        if (::close(std::exchange(fd, -1)) != 0)
            throwErrno("Cannot close " + name);
    }

    void renameTo(const std::filesystem::path& target) {
        if (::rename(name.c_str(), target.c_str()) != 0)
            throwErrno("Cannot replace " + target.string());
        committed = true;
    }

private:
    std::string name;
    int fd = -1;
    bool committed = false;
};

// Makes the rename itself durable.
void syncDirectory(const std::filesystem::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

LatestInstallReading parseLatestInstallInfo(std::string_view content) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);
    Fields fields;
    size_t lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        const size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#')
            continue;

        size_t keyEnd = 0;
        while (keyEnd < line.size() && isKeyChar(line[keyEnd]))
            ++keyEnd;
        const std::string_view key = line.substr(0, keyEnd);
        const std::string_view rest = line.substr(keyEnd);
        if (key.empty() || rest.empty() || !isBlank(rest.front()) || trimBlanks(rest).empty())
            return invalid(lineLabel(lineNumber) + "expected a key, a blank and a value");
        const std::string_view rawValue = trimBlanks(rest);

        auto* slot = fields.slot(key);
        if (slot == nullptr)
            continue;
        if (slot->has_value())
            return invalid(lineLabel(lineNumber) + std::string(key) + " appears twice");
        if (rawValue.front() == '"') {
            *slot = unquote(rawValue);
            if (!slot->has_value())
                return invalid(lineLabel(lineNumber) + "the quoted value of " + std::string(key) +
                               " is not closed or is followed by other text");
        } else {
            *slot = std::string(rawValue);
        }
    }
    for (size_t k = 0; k < kRequiredKeys.size(); ++k) {
        if (!fields.values[k] || fields.values[k]->empty())
            return invalid("the required field " + std::string(kRequiredKeys[k]) +
                           " is missing or empty");
    }
    return {LatestInstallRecord{std::move(*fields.values[0]), std::move(*fields.values[1]),
                                std::move(*fields.values[2])},
            {},
            false};
}

std::string formatLatestInstallInfo(const LatestInstallRecord& record) {
    requireWritable(kVersionKey, record.version);
    requireWritable(kInstallRootKey, record.installRoot);
    requireWritable(kLauncherKey, record.launcher);
    if (record.version.find_first_of(" \t\"") != std::string::npos)
        throw std::invalid_argument(std::string(kVersionKey) + " holds a blank or a quote");
    std::string text;
    text.append(kVersionKey).append(" ").append(record.version).append("\n");
    text.append(kInstallRootKey).append(" ").append(quotedValue(record.installRoot)).append("\n");
    text.append(kLauncherKey).append(" ").append(quotedValue(record.launcher)).append("\n");
    return text;
}

LatestInstallReading readLatestInstallFile(const std::filesystem::path& directory) {
    const auto file = directory / kLatestInstallFileName;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            auto reading =
                invalid("no " + std::string(kLatestInstallFileName) + " in " + directory.string());
            reading.fileMissing = true;
            return reading;
        }
        return invalid("cannot open " + file.string() + ": " + std::strerror(errno));
    }
    std::string content;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return invalid(file.string() + " is not a regular file");
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return invalid("cannot read " + file.string() + ": " + std::strerror(error));
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
        if (content.size() > kMaxFileSize) {
            ::close(fd);
            return invalid(file.string() + " is too large to be a description file");
        }
    }
    ::close(fd);
    auto reading = parseLatestInstallInfo(content);
    if (!reading.record)
        reading.problem = file.string() + ": " + reading.problem;
    return reading;
}

void writeLatestInstallFile(const std::filesystem::path& directory,
                            const LatestInstallRecord& record) {
    const std::string text = formatLatestInstallInfo(record);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        throw std::system_error(error, "Cannot create " + directory.string());
    TemporaryFile temporary(directory);
    temporary.write(text);
    temporary.renameTo(directory / kLatestInstallFileName);
    syncDirectory(directory);
}

} // namespace halvexconnector::latestversion::installationdiscovery
