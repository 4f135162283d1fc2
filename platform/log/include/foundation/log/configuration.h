#pragma once

#include <foundation/log/severity.h>

#include <optional>
#include <string>

namespace foundation::log {

/// Process-wide configuration of the diagnostic log. It is read from the environment once, on
/// first use of the library (any logger construction or any function below):
///   QB_LOG_MASK  severity mask, decimal or 0x hex; malformed values print a warning on standard
///                error and leave the default mask (default_severity_mask)
///   QB_LOG_FILE  appends every record to this file (UTF-8 text, one line per record)
/// Records carry a timestamp, the severity and the logger's name.

/// The mask all loggers use.
severity_type severity_mask() noexcept;
void set_severity_mask(severity_type mask) noexcept;

/// Parses a QB_LOG_MASK value ("1234" or "0x7fff", surrounding blanks allowed). Empty on any
/// malformed text or a value that does not fit in 32 bits.
std::optional<severity_type> parse_severity_mask(const std::string& text);

/// Re-reads QB_LOG_MASK and QB_LOG_FILE (replacing the file sink this library added before).
/// Returns the warnings printed, one per line; empty when all was well.
std::string configure_from_environment();

/// Adds a sink writing every record to standard error. Calling it again adds nothing.
void add_console_sink();
void remove_console_sink();

/// Adds a sink appending every record to `file` (UTF-8 path), flushed after each record.
/// Throws std::runtime_error when the file cannot be opened. Returns false when the same file
/// already has a sink.
bool add_file_sink(const std::string& file);
void remove_file_sinks();

/// Flushes every sink of the logging core.
void flush();

} // namespace foundation::log
