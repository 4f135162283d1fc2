#pragma once

#include <fl/filesystem/basic_path.h>

namespace halvexconnector::tripwireimpl {

// The prefix of every generated working directory's name.
extern const fl::ustring temporaryDirectoryPrefix;

// The environment variable that names one working directory for every install attempt.
extern const char* const downloadLocationVariable;

// A name directly inside the user storage root (the folder overrides applied) that begins with
// "_tmp_QSHI_" and was not taken when it was chosen. Creates nothing.
fl::filesystem::basic_path makeUniqueTempDirectoryPath();

// The working directory of one install attempt: the directory that
// QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION names, used as it is, else a generated name. The name is
// generated first in either case, so a failure to find the storage root always surfaces.
fl::filesystem::basic_path getDownloadLocation();

// The same choice, telling whether the user named the directory.
struct DownloadLocation {
    fl::filesystem::basic_path path;
    bool userChosen = false;
};
DownloadLocation chooseDownloadLocation();

} // namespace halvexconnector::tripwireimpl
