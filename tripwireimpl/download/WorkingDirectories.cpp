#include "download/WorkingDirectories.h"

#include "ServiceLookup.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/i18n/environment.h>
#include <halvexconnector/folderlocations/FolderLocations.h>

#include <boost/optional.hpp>

namespace halvexconnector::tripwireimpl {

const fl::ustring temporaryDirectoryPrefix = u"_tmp_QSHI_";
const char* const downloadLocationVariable = "QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION";

namespace {

boost::optional<fl::ustring> overrideText(const boost::optional<fl::filesystem::basic_path>& path) {
    if (!path) {
        return boost::none;
    }
    return path->string();
}

} // namespace

fl::filesystem::basic_path makeUniqueTempDirectoryPath() {
    const auto [first, second] = getFolderOverrides();
    fl::ustring root;
    {
        const folderlocations::FolderLocations locations(overrideText(first), overrideText(second));
        root = locations.userStorageRoot().string();
    }
    return fl::filesystem::basic_path(fl::filesystem::tmpnam(root, temporaryDirectoryPrefix, u""),
                                      true);
}

fl::filesystem::basic_path getDownloadLocation() {
    return chooseDownloadLocation().path;
}

DownloadLocation chooseDownloadLocation() {
    DownloadLocation location{makeUniqueTempDirectoryPath(), false};
    const fl::ustring chosen = fl::i18n::getenv(downloadLocationVariable);
    if (chosen.empty()) {
        return location;
    }
    const bool form = location.path.form();
    location.path.assign(fl::filesystem::detail::make_native_form(chosen, form), form);
    location.userChosen = true;
    return location;
}

} // namespace halvexconnector::tripwireimpl
