#pragma once

#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>

#include <stdexcept>
#include <string>
#include <system_error>

namespace fl::filesystem {

/// Error details attached to every filesystem_error, shown by
/// boost::diagnostic_information / current_exception_diagnostic_information.
using errinfo_operation = boost::error_info<struct tag_operation, std::string>;
using errinfo_path = boost::error_info<struct tag_path, std::string>;
using errinfo_path2 = boost::error_info<struct tag_path2, std::string>;
using errinfo_system_message = boost::error_info<struct tag_system_message, std::string>;

/// A failed file-system operation. what() reads
/// "<operation>: <system error text>: \"<path>\"[, \"<path2>\"]".
/// Paths are UTF-8 (bytes that are not UTF-8 are shown as \xNN).
class filesystem_error : public std::runtime_error, public virtual boost::exception {
public:
    filesystem_error(const std::string& operation, const std::string& path, std::error_code code);
    filesystem_error(const std::string& operation, const std::string& path,
                     const std::string& path2, std::error_code code);

    const std::string& operation() const noexcept { return operation_; }
    const std::string& path1() const noexcept { return path1_; }
    const std::string& path2() const noexcept { return path2_; }
    std::error_code code() const noexcept { return code_; }

private:
    std::string operation_;
    std::string path1_;
    std::string path2_;
    std::error_code code_;
};

/// Misuse of an object, e.g. advancing an exhausted directory iteration.
class invalid_operation_exception : public std::logic_error, public virtual boost::exception {
public:
    explicit invalid_operation_exception(const std::string& what) : std::logic_error(what) {}
};

namespace detail {
[[noreturn]] void throw_invalid_operation_exception(const char* what);
} // namespace detail

} // namespace fl::filesystem
