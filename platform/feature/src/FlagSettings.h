#pragma once

#include <string_view>

namespace foundation::feature::detail {

/// The environment variable that lists the flags that are on.
inline constexpr const char* flagSettingsVariable = "QB_FEATURE_FLAGS";

/// Whether `name` is on according to `settings`, a comma-separated list of entries:
/// `name` or `name=on` switches a flag on, `name=off` switches it off (also true/false, yes/no,
/// 1/0, in any case). Whitespace around names, values and `=` is ignored. Entries that do not
/// parse (empty names, characters outside [A-Za-z0-9_.-], unknown values, a second `=`) are
/// ignored. When a name appears more than once the last valid entry wins. Names not mentioned are
/// off. Names compare case-sensitively.
bool isFlagOn(std::string_view settings, std::string_view name);

/// isFlagOn over the current value of flagSettingsVariable (unset reads as empty).
bool isFlagOnNow(std::string_view name);

} // namespace foundation::feature::detail
