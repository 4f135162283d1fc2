#pragma once

#include <string>

namespace fl::filesystem::detail {

/// `count` characters from [a-z0-9] drawn from the system's entropy source.
std::string random_characters(std::size_t count);

} // namespace fl::filesystem::detail
