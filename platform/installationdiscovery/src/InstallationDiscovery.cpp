#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"

#include "halvexconnector/folderlocations/FolderRoots.h"
#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>
#include <foundation/log/write_record.h>

#include <stdexcept>

namespace halvexconnector::latestversion::installationdiscovery {
namespace {

namespace folders = halvexconnector::folderlocations;

foundation::log::diagnostic_logger& discoveryLogger() {
    static foundation::log::diagnostic_logger logger(kDiscoveryLoggerName);
    return logger;
}

folders::FolderMode folderModeOf(InstallationDiscoveryRoot root) {
    switch (root) {
    case InstallationDiscoveryRoot::STANDARD:
        return folders::FolderMode::STANDARD;
    case InstallationDiscoveryRoot::DRIVE:
        return folders::FolderMode::DRIVE;
    }
    throw std::invalid_argument("Unknown installation discovery root " +
                                std::to_string(static_cast<int>(root)));
}

// Text from the file is the system's bytes; the path keeps it losslessly and, in native form,
// turns '\' separators into '/'.
fl::filesystem::basic_path pathFromFile(const std::string& text) {
    // Straight from the bytes: going through a std::filesystem::path would split it into
    // components only to throw them away, on every query.
    return fl::filesystem::basic_path(fl::i18n::detail::bytes_to_ustring_escaped(text), true);
}

} // namespace

fl::filesystem::basic_path
discoveryDirectory(InstallationDiscoveryRoot root,
                   const boost::optional<fl::filesystem::basic_path>& firstOverride,
                   const boost::optional<fl::filesystem::basic_path>& /*secondOverride*/) {
    const folders::FolderMode mode = folderModeOf(root);
    if (firstOverride && !firstOverride->empty())
        return *firstOverride;
    return fl::filesystem::path_from_native(
        folders::defaultStorageRoot(mode, folders::userDataHome()));
}

boost::optional<HXCInstallationInfo> discoverLatestHALVEXConnectorInstall(
    InstallationDiscoveryRoot root,
    const boost::optional<fl::filesystem::basic_path>& firstOverride,
    const boost::optional<fl::filesystem::basic_path>& secondOverride) {
    const auto directory = discoveryDirectory(root, firstOverride, secondOverride);
    const LatestInstallReading reading =
        readLatestInstallFile(fl::filesystem::to_native(directory));
    if (!reading.record) {
        foundation::log::write_record(
            discoveryLogger(), reading.fileMissing ? kMissingFileSeverity : kInvalidFileSeverity,
            "No installation discovered: ", reading.problem, "\n");
        return boost::none;
    }
    return HXCInstallationInfo{pathFromFile(reading.record->installRoot),
                               pathFromFile(reading.record->launcher), reading.record->version};
}

void writeLatestInstallInfo(const fl::filesystem::basic_path& directory,
                            const HXCInstallationInfo& info) {
    if (directory.empty())
        throw std::invalid_argument("The directory for LatestInstall.info is empty");
    writeLatestInstallFile(fl::filesystem::to_native(directory),
                           LatestInstallRecord{info.version,
                                               fl::filesystem::to_native(info.path).string(),
                                               fl::filesystem::to_native(info.launcher).string()});
}

} // namespace halvexconnector::latestversion::installationdiscovery
