#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace fl::i18n {

/// Thrown when text is not valid in its claimed encoding (malformed or truncated UTF-8,
/// overlong forms, encoded surrogates, lone UTF-16 surrogates). Nothing is ever replaced or
/// dropped silently.
class conversion_error : public std::runtime_error {
public:
    conversion_error(const std::string& what, std::size_t offset)
        : std::runtime_error(what), offset_(offset) {}

    /// Index of the first offending code unit (byte for UTF-8, 16-bit unit for UTF-16).
    std::size_t offset() const noexcept { return offset_; }

private:
    std::size_t offset_;
};

} // namespace fl::i18n
