#include "ExtractionDirectory.h"

#include "ExtractorLog.h"

#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace halvexconnector::latestversion::kciextractor::detail {
namespace {

constexpr mode_t kDirectoryMode = 0700;

[[noreturn]] void throwErrno(const std::filesystem::path& path, const char* what) {
    throw std::system_error(errno, std::generic_category(),
                            std::string(what) + " \"" + path.string() + "\"");
}

} // namespace

ExtractionDirectory::ExtractionDirectory(std::filesystem::path path) : path_(std::move(path)) {
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0) {
        fl::filesystem::remove_all(fl::filesystem::path_from_native(path_));
    }
    // mkdir fails on anything that appeared meanwhile: this directory is always our own.
    if (::mkdir(path_.c_str(), kDirectoryMode) != 0) {
        throwErrno(path_, "cannot create extraction directory");
    }
    fd_.reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd_.valid() || ::fchmod(fd_.get(), kDirectoryMode) != 0) {
        const int error = errno;
        fd_.reset();
        ::rmdir(path_.c_str());
        errno = error;
        throwErrno(path_, "cannot open extraction directory");
    }
}

ExtractionDirectory::~ExtractionDirectory() {
    fd_.reset();
    if (kept_) {
        return;
    }
    try {
        fl::filesystem::remove_all(fl::filesystem::path_from_native(path_));
    } catch (const std::exception& error) {
        logExtractorRecord("Could not remove the extraction directory \"" + path_.string() +
                           "\": " + error.what());
    }
}

} // namespace halvexconnector::latestversion::kciextractor::detail
