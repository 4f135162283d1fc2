#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The description file of the latest installation, "LatestInstall.info": one field a line, the
// key, a blank and the value. Paths are written in double quotes with each backslash doubled:
//
//   LatestDSInstallerVersion 2024.7.0.6
//   LatestDSInstallRoot "/opt/Quillbeck/ServiceHost/v2024.7.0.6"
//   DSLauncherExecutable "C:\\Program
//   Files\\Quillbeck\\ServiceHost\\v2024.7.0.6\\bin\\win64\\x.exe"
//
// Reading: lines may be indented and end in CR LF; blank lines and lines starting with '#' are
// skipped; unknown keys are ignored. Inside quotes "\\" reads as one backslash and "\"" as a
// quote; any other backslash stays as it is. A line without a value, an unterminated quote,
// text after the closing quote, a repeated key or a missing or empty required field makes the
// whole file invalid. This part uses std types only, so self-contained programs can compile it
// in.
namespace halvexconnector::latestversion::installationdiscovery {

inline constexpr std::string_view kLatestInstallFileName = "LatestInstall.info";
inline constexpr std::string_view kVersionKey = "LatestDSInstallerVersion";
inline constexpr std::string_view kInstallRootKey = "LatestDSInstallRoot";
inline constexpr std::string_view kLauncherKey = "DSLauncherExecutable";

// The three fields, unescaped, as UTF-8 (or, for paths, the system's bytes).
struct LatestInstallRecord {
    std::string version;
    std::string installRoot;
    std::string launcher;
};

// A record, or the reason why there is none.
struct LatestInstallReading {
    std::optional<LatestInstallRecord> record;
    // Empty when a record was read.
    std::string problem;
    // True when there was no file at all (not an error: nothing is installed).
    bool fileMissing = false;
};

LatestInstallReading parseLatestInstallInfo(std::string_view content);

// The file's text for a record. Throws std::invalid_argument for an empty field, a version with
// blanks, or a field holding a line break.
std::string formatLatestInstallInfo(const LatestInstallRecord& record);

// Reads "<directory>/LatestInstall.info". A missing file gives no record and the problem
// "no LatestInstall.info in <directory>".
LatestInstallReading readLatestInstallFile(const std::filesystem::path& directory);

// Replaces "<directory>/LatestInstall.info" atomically (temporary file, fsync, rename), creating
// the directory when missing: readers see the old file or the new one, never a part. Throws
// std::invalid_argument as formatLatestInstallInfo and std::system_error when writing fails;
// the old file is then untouched.
void writeLatestInstallFile(const std::filesystem::path& directory,
                            const LatestInstallRecord& record);

} // namespace halvexconnector::latestversion::installationdiscovery
