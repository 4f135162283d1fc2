#pragma once

#include <stdexcept>
#include <string>

namespace halvexconnector::latestversion::kciextractor {

/// Thrown when an archive cannot be extracted safely or its "kci.json" is malformed. The message
/// names the archive and, when one is to blame, the entry; entry() holds that entry's name as the
/// archive gave it (empty when the failure concerns the archive as a whole).
class KCIExtractionError : public std::runtime_error {
public:
    KCIExtractionError(const std::string& what, std::string entry)
        : std::runtime_error(what), entry_(std::move(entry)) {}

    const std::string& entry() const noexcept { return entry_; }

private:
    std::string entry_;
};

} // namespace halvexconnector::latestversion::kciextractor
