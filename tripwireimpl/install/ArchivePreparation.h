#pragma once

#include <fl/filesystem/basic_path.h>

#include <string>

namespace halvexconnector::tripwireimpl {

// Where a local archive is prepared inside a working directory: <working>/<stem>/<file name>.
struct LocalPreparationPaths {
    fl::filesystem::basic_path extractionDirectory;
    fl::filesystem::basic_path copyTarget;
};

// The archive's stem is its name without the last four characters (".zip"), or the whole name
// when it is shorter; an empty stem adds no directory. Touches nothing on disk.
LocalPreparationPaths localPreparationPaths(const fl::filesystem::basic_path& workingDirectory,
                                            const fl::ustring& archiveFileName);

// The entry directly inside the working directory that a local preparation writes: the stem,
// or the file name itself when the stem is empty.
fl::ustring localPreparationEntry(const fl::ustring& archiveFileName);

// An installer ready to run; an empty path means the archive held none.
struct PreparedInstaller {
    fl::filesystem::basic_path installerPath;
    std::string version;
};

// Replaces a leftover extraction directory with a fresh one, copies the archive into it (the
// original stays where it is) and extracts the copy. Every failure propagates.
PreparedInstaller prepareLocalArchive(const LocalPreparationPaths& paths,
                                      const fl::ustring& archiveFullPathName);

} // namespace halvexconnector::tripwireimpl
