#include "install/ArchivePreparation.h"

#include "PrivatePath.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>

#include <utility>

namespace halvexconnector::tripwireimpl {

namespace {

constexpr fl::ustring::size_type archiveSuffixLength = 4; // ".zip"

fl::ustring archiveStem(const fl::ustring& fileName) {
    if (fileName.size() < archiveSuffixLength) {
        return fileName;
    }
    return fileName.substr(0, fileName.size() - archiveSuffixLength);
}

bool existsOrFalse(const fl::filesystem::basic_path& path) {
    try {
        return fl::filesystem::exists(path);
    } catch (...) {
        // Cannot tell: making the directory below reports what is really wrong.
        return false;
    }
}

} // namespace

fl::ustring localPreparationEntry(const fl::ustring& archiveFileName) {
    const fl::ustring stem = archiveStem(archiveFileName);
    return stem.empty() ? archiveFileName : stem;
}

LocalPreparationPaths localPreparationPaths(const fl::filesystem::basic_path& workingDirectory,
                                            const fl::ustring& archiveFileName) {
    const bool form = workingDirectory.form();
    fl::ustring extraction = workingDirectory.string();
    const fl::ustring stem = archiveStem(archiveFileName);
    if (!stem.empty()) {
        fl::filesystem::detail::concatenate_pathname(extraction, stem, form);
    }
    fl::ustring target = extraction;
    fl::filesystem::detail::concatenate_pathname(target, archiveFileName, form);
    return {fl::filesystem::basic_path(extraction, form), fl::filesystem::basic_path(target, form)};
}

PreparedInstaller prepareLocalArchive(const LocalPreparationPaths& paths,
                                      const fl::ustring& archiveFullPathName) {
    if (existsOrFalse(paths.extractionDirectory)) {
        fl::filesystem::remove_all(paths.extractionDirectory);
    }
    // Owner-only whatever the umask, and new: nothing another user prepared is written into.
    const std::filesystem::path extraction = fl::filesystem::to_native(paths.extractionDirectory);
    makePrivateDirectories(extraction.parent_path().string());
    makeNewPrivateDirectory(extraction.string());
    fl::filesystem::copy_file(fl::filesystem::basic_path(archiveFullPathName, true),
                              paths.copyTarget, fl::filesystem::copy_option{1});
    auto [installerPath, version] =
        latestversion::kciextractor::extractKCIAndReturnVersion(paths.copyTarget);
    return {std::move(installerPath), std::move(version)};
}

} // namespace halvexconnector::tripwireimpl
