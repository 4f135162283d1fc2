#pragma once

#include <memory>
#include <string>

namespace foundation::urlmanager {

/// The key of the maker's web domain; its URL is the base of every web address of the maker.
extern const char* const QUILLBECK_DOT_COM;

/// Answers the URL that belongs to a key. A key K has a built-in URL; the environment variable
/// "QB_URL_" followed by K replaces it with an http or https URL (other values are ignored with
/// a log record).
class UrlManager {
public:
    /// The URL of key, without a trailing slash. Throws std::out_of_range for a key that has
    /// neither a built-in URL nor a valid override.
    virtual std::string getUrl(const std::string& key) const = 0;

    virtual ~UrlManager();
};

/// A URL manager that reads the overrides anew on every question.
std::shared_ptr<UrlManager> createUrlManager();

} // namespace foundation::urlmanager
