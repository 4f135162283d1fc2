#include "download/DownloadLocation.h"

#include "ModeLocations.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/i18n/environment.h>

namespace halvexconnector::tripwireimpl {

const fl::ustring temporaryDirectoryPrefix = u"_tmp_QSHI_";
const char* const downloadLocationVariable = "QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION";

fl::filesystem::basic_path makeUniqueTempDirectoryPath() {
    const fl::ustring root = ModeLocations(tripwire::STANDARD).userStorageRoot().string();
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
