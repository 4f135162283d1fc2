#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/directory_iterator.h>

#include <memory>

namespace halvexconnector::tripwireimpl {

// The environment variable that names the directory searched for installer archives.
extern const char* const installSourcesVariable;

// Archive patterns in the order they are tried: any kci archive wins over every other.
extern const fl::ustring kciArchivePattern;
extern const fl::ustring installerArchivePattern;

using DirectoryMatch = std::shared_ptr<fl::filesystem::detail::upath_directory_iterator_impl>;

// The directory searched for local archives: QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES when set (used
// as it is, whether or not it exists), else <installation root>/sys/qbds/win64.
fl::filesystem::basic_path resolveSourcesDirectory();

// An iteration standing on the first entry of `directory` whose name matches `pattern`, or none
// when the path is empty, the directory cannot be listed or nothing matches.
DirectoryMatch findFirstMatch(const fl::filesystem::basic_path& directory,
                              const fl::ustring& pattern);

struct LocalSource {
    // The searched directory, which the installer receives as "-source".
    fl::filesystem::basic_path sourcesDirectory;
    // The chosen archive; both empty when none qualifies.
    fl::ustring fileName;
    fl::ustring fullPathName;

    bool found() const noexcept { return !fileName.empty(); }
};

// Searches the sources directory for the installer archive to use. A missing directory (or one
// whose existence cannot be told) gives no archive; other failures propagate.
LocalSource findLocalSource();

} // namespace halvexconnector::tripwireimpl
