#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>
#include <foundation/log/testing/RecordCapture.h>

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <mutex>

#include "configuration_internal.h"

namespace foundation::log::testing {
namespace {

namespace sinks = boost::log::sinks;

class capture_backend : public sinks::basic_sink_backend<sinks::concurrent_feeding> {
public:
    void consume(const boost::log::record_view& rec) {
        CapturedRecord record;
        if (auto message = boost::log::extract<std::string>("Message", rec)) {
            record.message = *message;
        }
        if (auto severity = boost::log::extract<severity_type>(severity_attribute_name, rec)) {
            record.severity = *severity;
        }
        if (auto channel = boost::log::extract<std::string>(channel_attribute_name, rec)) {
            record.logger = *channel;
        }
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(std::move(record));
    }

    mutable std::mutex mutex;
    std::vector<CapturedRecord> records;
};

} // namespace

struct RecordCapture::impl {
    boost::shared_ptr<capture_backend> backend = boost::make_shared<capture_backend>();
    boost::shared_ptr<sinks::synchronous_sink<capture_backend>> sink =
        boost::make_shared<sinks::synchronous_sink<capture_backend>>(backend);
    std::optional<severity_type> previous_mask;
};

RecordCapture::RecordCapture(std::optional<severity_type> mask) : impl_(std::make_unique<impl>()) {
    detail::configured_core()->add_sink(impl_->sink);
    if (mask) {
        impl_->previous_mask = severity_mask();
        set_severity_mask(*mask);
    }
}

RecordCapture::~RecordCapture() {
    detail::configured_core()->remove_sink(impl_->sink);
    if (impl_->previous_mask) {
        set_severity_mask(*impl_->previous_mask);
    }
}

std::vector<CapturedRecord> RecordCapture::records() const {
    std::lock_guard<std::mutex> lock(impl_->backend->mutex);
    return impl_->backend->records;
}

std::vector<CapturedRecord> RecordCapture::records(const std::string& logger) const {
    std::vector<CapturedRecord> selected;
    for (auto& record : records()) {
        if (record.logger == logger) {
            selected.push_back(std::move(record));
        }
    }
    return selected;
}

std::size_t RecordCapture::count_containing(const std::string& text) const {
    std::size_t count = 0;
    for (const auto& record : records()) {
        if (record.message.find(text) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

void RecordCapture::clear() {
    std::lock_guard<std::mutex> lock(impl_->backend->mutex);
    impl_->backend->records.clear();
}

} // namespace foundation::log::testing
