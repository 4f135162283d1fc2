#pragma once

#include <string>
#include <vector>

namespace tripwire_test {

// clang-format off
// The install event's keys in the order they are sent: six always, ten more with the detail flag.
inline const std::vector<std::string> installEventKeys{
    "startTimestamp", "endTimestamp", "installResult", "qshVersion", "installSource", "mode",
    "extractionErrorMessage", "extractionEndTimestamp", "downloadErrorMessage",
    "downloadEndTimestamp", "extractDownloadErrorMessage", "extractDownloadEndTimestamp",
    "installerReturnCode", "installerEndTimestamp", "installerRerunReturnCode",
    "installerRerunEndTimestamp"};
// clang-format on
inline constexpr std::size_t summaryKeyCount = 6;

} // namespace tripwire_test
