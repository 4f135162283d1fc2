#pragma once

#include <foundation/log/severity.h>

#include <boost/log/attributes/attribute_set.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/core/record.hpp>
#include <boost/shared_ptr.hpp>

#include <map>
#include <mutex>
#include <string>

namespace foundation::log {

/// Names of the attributes every record of a diagnostic logger carries.
inline constexpr const char* severity_attribute_name = "Severity";   // severity_type
inline constexpr const char* channel_attribute_name = "Channel";     // std::string, logger name
inline constexpr const char* timestamp_attribute_name = "TimeStamp"; // boost::posix_time::ptime

template <typename CharT> class basic_diagnostic_logger;

/// A named logger on the process-wide Boost.Log core. Writing a record of severity s:
///
///   if (!logger.is_enabled(s)) return;                    // mask & s & 0x7FFF == 0
///   if (!logger.core()->get_logging_enabled()) return;
///   boost::log::record rec;
///   {
///       std::lock_guard lock(logger.get_mutex());
///       rec = logger.open_record_unlocked(s);            // s becomes the record's severity
///   }
///   if (rec) {
///       boost::log::record_ostream strm(rec);
///       strm << "part one" << "part two\n";
///       strm.flush();
///       logger.core()->push_record(std::move(rec));
///   }
///
/// foundation/log/write_record.h does exactly this. Safe to use from many threads.
template <> class basic_diagnostic_logger<char> {
public:
    using char_type = char;
    using mutex_type = std::mutex;

    explicit basic_diagnostic_logger(std::string name);
    ~basic_diagnostic_logger();

    basic_diagnostic_logger(const basic_diagnostic_logger&) = delete;
    basic_diagnostic_logger& operator=(const basic_diagnostic_logger&) = delete;

    const std::string& name() const noexcept { return name_; }

    /// The severity mask in force (maintained by the library, see configuration.h).
    severity_type severity_mask() const noexcept;

    /// True when the mask shares a bit with s within the low 15 bits.
    bool is_enabled(severity_type s) const noexcept {
        return (severity_mask() & s & severity_bits) != 0;
    }

    /// The process-wide logging core.
    const boost::shared_ptr<boost::log::core>& core() const noexcept { return core_; }

    /// The logger's own attributes (name, severity, timestamp). Change only under get_mutex().
    boost::log::attribute_set& get_attributes() noexcept { return attributes_; }
    const boost::log::attribute_set& get_attributes() const noexcept { return attributes_; }

    /// The logger's exclusive lock: guards the attribute set while a record is opened.
    mutex_type& get_mutex() const noexcept { return mutex_; }

    /// Makes s the severity of the next record and opens a record with the logger's attributes.
    /// The caller holds get_mutex(). An empty record means nothing would consume it.
    boost::log::record open_record_unlocked(severity_type s);

    /// Pushes a record opened by open_record_unlocked to the core.
    void push_record(boost::log::record&& rec);

private:
    std::string name_;
    boost::shared_ptr<boost::log::core> core_;
    boost::log::attribute_set attributes_;
    // One severity attribute per severity value, kept for the logger's life (bounded), so that
    // opening a record never frees an attribute another thread's record may still refer to.
    std::map<severity_type, boost::log::attribute> severity_attributes_;
    mutable mutex_type mutex_;
};

using diagnostic_logger = basic_diagnostic_logger<char>;

} // namespace foundation::log
