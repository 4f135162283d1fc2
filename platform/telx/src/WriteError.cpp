#include <telx/WriteError.h>

namespace telx {

WriteError::WriteError(std::error_code code, const std::filesystem::path& path,
                       const std::string& what)
    : std::system_error(code, "telx: " + what + " " + path.string()), path(path) {}

} // namespace telx
