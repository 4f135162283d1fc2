#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace telx {

/// An event could not be stored. Nothing of it is left in the event file.
class WriteError : public std::system_error {
public:
    WriteError(std::error_code code, const std::filesystem::path& path, const std::string& what);

    /// The file or directory that could not be written.
    const std::filesystem::path& getPath() const noexcept { return path; }

private:
    std::filesystem::path path;
};

} // namespace telx
