#pragma once

#include <foundation/log/severity.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace foundation::log::testing {

/// One record as a capture saw it.
struct CapturedRecord {
    std::string message;
    severity_type severity = 0;
    std::string logger; // the logger's name
};

/// For tests: while alive, every record pushed to the logging core is also kept here. By
/// default the severity mask is opened fully for the capture's lifetime (and restored after),
/// so records are captured whatever QB_LOG_MASK says; pass std::nullopt to keep the mask.
/// Thread-safe; several captures may be alive at once.
class RecordCapture {
public:
    explicit RecordCapture(std::optional<severity_type> mask = default_severity_mask);
    ~RecordCapture();

    RecordCapture(const RecordCapture&) = delete;
    RecordCapture& operator=(const RecordCapture&) = delete;

    std::vector<CapturedRecord> records() const;
    /// Records of one logger only.
    std::vector<CapturedRecord> records(const std::string& logger) const;
    /// Number of records whose message contains `text`.
    std::size_t count_containing(const std::string& text) const;
    void clear();

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

} // namespace foundation::log::testing
