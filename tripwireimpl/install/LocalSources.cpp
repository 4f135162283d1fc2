#include "install/LocalSources.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>
#include <fl/i18n/environment.h>
#include <tripwire/InstallLayout.h>

#include <sys/stat.h>

namespace halvexconnector::tripwireimpl {

const char* const installSourcesVariable = "QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES";
const fl::ustring kciArchivePattern = u"kci*.zip";
const fl::ustring installerArchivePattern = u"halvexconnector*installer.zip";

namespace {

bool existsOrFalse(const fl::filesystem::basic_path& path) {
    try {
        return fl::filesystem::exists(path);
    } catch (...) {
        // A directory we cannot even look at holds no archive for us; the download takes over.
        return false;
    }
}

// Advances to the first match that is a regular file (a link to one will do): a FIFO, a
// device or a directory of that name is no archive, and opening a FIFO would wait for ever.
DirectoryMatch firstRegularFile(DirectoryMatch match) {
    for (; match && match->is_open(); match->increment()) {
        struct stat st {};
        const std::string native =
            fl::filesystem::to_native(
                fl::filesystem::basic_path(match->current().full_pathname(), true))
                .string();
        if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            return match;
        }
    }
    return nullptr;
}

} // namespace

fl::filesystem::basic_path resolveSourcesDirectory() {
    const fl::ustring chosen = fl::i18n::getenv(installSourcesVariable);
    if (!chosen.empty()) {
        return fl::filesystem::basic_path(fl::filesystem::detail::make_native_form(chosen, true),
                                          true);
    }
    fl::ustring directory =
        fl::filesystem::detail::make_native_form(fl::filesystem::get_install_path().string(), true);
    fl::filesystem::detail::concatenate_pathname(
        directory, fl::i18n::utf8_to_ustring(::tripwire::layout::localSourcesDirectory), true);
    return fl::filesystem::basic_path(directory, true);
}

DirectoryMatch findFirstMatch(const fl::filesystem::basic_path& directory,
                              const fl::ustring& pattern) {
    if (directory.empty()) {
        return nullptr;
    }
    const fl::filesystem::halvex_pattern_string_context patternContext(pattern);
    auto iteration = std::make_shared<fl::filesystem::detail::upath_directory_iterator_impl>(
        fl::filesystem::detail::make_native_form(directory.string(), true), patternContext, true,
        fl::filesystem::iteration_default, false);
    if (!iteration->is_open()) {
        return nullptr;
    }
    return iteration;
}

LocalSource findLocalSource() {
    LocalSource source;
    source.sourcesDirectory = resolveSourcesDirectory();
    if (!existsOrFalse(source.sourcesDirectory)) {
        return source;
    }
    DirectoryMatch match =
        firstRegularFile(findFirstMatch(source.sourcesDirectory, kciArchivePattern));
    if (!match) {
        match = firstRegularFile(findFirstMatch(source.sourcesDirectory, installerArchivePattern));
    }
    if (match) {
        source.fileName = match->current().filename();
        source.fullPathName = match->current().full_pathname();
    }
    return source;
}

} // namespace halvexconnector::tripwireimpl
