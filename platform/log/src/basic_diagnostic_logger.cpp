#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>

#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/constant.hpp>

#include "configuration_internal.h"

namespace foundation::log {

namespace attrs = boost::log::attributes;

basic_diagnostic_logger<char>::basic_diagnostic_logger(std::string name)
    : name_(std::move(name)), core_(detail::configured_core()) {
    attributes_.insert(channel_attribute_name, attrs::constant<std::string>(name_));
    attributes_.insert(severity_attribute_name, attrs::constant<severity_type>(0));
    attributes_.insert(timestamp_attribute_name, attrs::utc_clock());
}

basic_diagnostic_logger<char>::~basic_diagnostic_logger() = default;

severity_type basic_diagnostic_logger<char>::severity_mask() const noexcept {
    return log::severity_mask();
}

boost::log::record basic_diagnostic_logger<char>::open_record_unlocked(severity_type s) {
    // A constant per severity: a record opened earlier keeps the severity it was opened with.
    constexpr std::size_t cached_severities = 64;
    auto cached = severity_attributes_.find(s);
    boost::log::attribute severity;
    if (cached != severity_attributes_.end()) {
        severity = cached->second;
    } else {
        severity = attrs::constant<severity_type>(s);
        if (severity_attributes_.size() < cached_severities) {
            severity_attributes_.emplace(s, severity);
        }
    }
    attributes_.find(severity_attribute_name)->second = severity;
    return core_->open_record(attributes_);
}

void basic_diagnostic_logger<char>::push_record(boost::log::record&& rec) {
    core_->push_record(std::move(rec));
}

} // namespace foundation::log
