#pragma once

#include <cstdint>

namespace halvexconnector::tripwireimpl {

/// Reads the four numbers of an installed version ("2024.7.0.6") as sscanf with "%u.%u.%u.%u"
/// does: each number may follow white space, reading stops at the first character that does not
/// fit and text after the fourth number is ignored. Returns how many numbers were read (0 to
/// 4); only that many leading parts of `parts` are set.
int readInstalledVersion(const char* text, unsigned (&parts)[4]);

/// Lexicographic over four unsigned parts, most significant first; equal is new enough.
bool isOlderThanRequired(const unsigned (&installed)[4], const std::uint32_t (&required)[4]);

} // namespace halvexconnector::tripwireimpl
