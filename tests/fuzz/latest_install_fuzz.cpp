// Input: the text of LatestInstall.info. An accepted record must read back as itself.
#include "FuzzSupport.h"

#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace discovery = halvexconnector::latestversion::installationdiscovery;
    using tripwire_fuzz::violation;
    const auto reading = discovery::parseLatestInstallInfo(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (reading.record.has_value() != reading.problem.empty())
        violation("a record together with a problem, or neither");
    if (!reading.record)
        return 0;
    const auto& record = *reading.record;
    if (record.version.empty() || record.installRoot.empty() || record.launcher.empty())
        violation("a record with an empty field");
    std::string written;
    try {
        written = discovery::formatLatestInstallInfo(record);
    } catch (const std::invalid_argument&) {
        return 0; // some readable records cannot be written (a version with blanks)
    }
    const auto again = discovery::parseLatestInstallInfo(written);
    if (!again.record || again.record->version != record.version ||
        again.record->installRoot != record.installRoot ||
        again.record->launcher != record.launcher)
        violation("a written record does not read back as itself");
    return 0;
}
