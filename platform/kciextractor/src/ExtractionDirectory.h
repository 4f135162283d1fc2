#pragma once

#include <fl/filesystem/unique_fd.h>

#include <filesystem>

namespace halvexconnector::latestversion::kciextractor::detail {

/// The directory an extraction writes into, made fresh (mode 0700) and open by descriptor.
/// Unless keep() is called, it is removed with everything below it when this object goes.
class ExtractionDirectory {
public:
    /// Removes whatever `path` names (a directory left over from an earlier run, or anything
    /// else; symbolic links are removed, never followed), then makes the directory.
    /// Throws fl::filesystem::filesystem_error or std::system_error.
    explicit ExtractionDirectory(std::filesystem::path path);
    ~ExtractionDirectory();

    ExtractionDirectory(const ExtractionDirectory&) = delete;
    ExtractionDirectory& operator=(const ExtractionDirectory&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    int fd() const noexcept { return fd_.get(); }
    void keep() noexcept { kept_ = true; }

private:
    std::filesystem::path path_;
    fl::filesystem::unique_fd fd_;
    bool kept_ = false;
};

} // namespace halvexconnector::latestversion::kciextractor::detail
