#pragma once

#include <cstdint>

namespace foundation::log {

/// A record's severity: a single bit. A record is written when the severity mask holds its bit
/// (only the low 15 bits take part, see basic_diagnostic_logger::is_enabled).
using severity_type = std::uint32_t;

/// Only these bits of a severity can ever be enabled.
inline constexpr severity_type severity_bits = 0x7FFF;

/// The mask in force when QB_LOG_MASK is unset or malformed: every severity.
inline constexpr severity_type default_severity_mask = 0xFFFFFFFFu;

} // namespace foundation::log
