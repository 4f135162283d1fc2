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

// A kci archive at `archive` (packed with zip): kci.json, the installer "bin/setup" (a shell
// script that exits with 0) and `files` files of `bytes` in total in 20 folders. The content is
// random bytes, except that every fourth file draws from 64 symbols only, so that the archiver
// compresses it and an extractor has real inflating to do; the rest is stored as it is.
std::filesystem::path makeKciArchive(const std::filesystem::path& archive, std::uint64_t bytes,
                                     unsigned files);

// CPU seconds (user and system) used so far by this process (RUSAGE_SELF) or by its finished
// children (RUSAGE_CHILDREN).
double cpuSeconds(int who);

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
