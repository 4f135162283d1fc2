// Feeds arbitrary text to the LatestInstall.info reader. A record it accepts must have its three
// fields, and writing that record and reading the result back must give the same record.
#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace {

namespace discovery = halvexconnector::latestversion::installationdiscovery;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "LatestInstall.info fuzz: %s\n", what);
    std::abort();
}

bool sameRecord(const discovery::LatestInstallRecord& a, const discovery::LatestInstallRecord& b) {
    return a.version == b.version && a.installRoot == b.installRoot && a.launcher == b.launcher;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const discovery::LatestInstallReading reading = discovery::parseLatestInstallInfo(text);
    if (!reading.record) {
        if (reading.problem.empty()) {
            violation("no record and no problem");
        }
        return 0;
    }
    const auto& record = *reading.record;
    if (!reading.problem.empty()) {
        violation("a record together with a problem");
    }
    if (record.version.empty() || record.installRoot.empty() || record.launcher.empty()) {
        violation("a record with an empty field");
    }
    std::string written;
    try {
        written = discovery::formatLatestInstallInfo(record);
    } catch (const std::invalid_argument&) {
        // Some readable records cannot be written (a version with blanks); nothing to compare.
        return 0;
    }
    const discovery::LatestInstallReading again = discovery::parseLatestInstallInfo(written);
    if (!again.record || !sameRecord(*again.record, record)) {
        violation("a written record does not read back as itself");
    }
    return 0;
}
