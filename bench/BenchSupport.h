#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tripwire::bench {

// A fresh directory under `base` (by default the system's temporary directory), removed with
// everything in it.
class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix, const std::filesystem::path& base =
                                                          std::filesystem::temp_directory_path());
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Bytes that no compressor can shrink, the same for the same seed.
void writeRandomFile(const std::filesystem::path& path, std::uint64_t bytes, std::uint64_t seed);

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when missing.
std::uint64_t statusKiB(const char* field);

// Runs this very program again with `arguments` and returns what it wrote to standard output;
// throws std::runtime_error when it does not exit with 0.
std::string runThisProgram(const std::vector<std::string>& arguments);

// Runs `command` through /bin/sh; false unless it exits with 0.
bool runShell(const std::string& command);

// Quotes a text for /bin/sh.
std::string shellQuoted(const std::string& text);

} // namespace tripwire::bench
