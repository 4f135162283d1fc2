#pragma once

#include <halvexconnector/latestversion/checker/LatestVersionDocument.h>

#include <foundation/httpclient_core/HttpClient.h>
#include <foundation/urlmanager/UrlManager.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

namespace halvexconnector::latestversion::checker {

/// Finds the latest installer archive: GETs LATEST_DOCUMENT_PATH below the URL of
/// foundation::urlmanager::QUILLBECK_DOT_COM.
class LatestVersionChecker {
public:
    LatestVersionChecker(std::shared_ptr<foundation::httpclient_core::HttpClient> client,
                         std::shared_ptr<foundation::urlmanager::UrlManager> urlManager);

    /// (version, URL) of the latest archive. The URL carries "#sha256=<hex>" when the document
    /// names a digest; it is empty when the document offers no archive. Throws
    /// LatestVersionError when there is no client, the document's URL is plain http beyond
    /// loopback (before any request), the server cannot be reached, answers with an HTTP error
    /// or sends a malformed document, or the document names an archive without a "sha256" while
    /// the document or the archive is not on a loopback address. When trusted keys are
    /// configured (see DocumentSignature.h), throws DocumentSignatureError, a LatestVersionError,
    /// unless one of them signed the document's exact bytes (LATEST_SIGNATURE_PATH).
    std::pair<std::string, std::string> getLatestKCIUrl();

    /// The limit for the whole lookup.
    static constexpr std::chrono::seconds REQUEST_TIMEOUT{60};

private:
    std::shared_ptr<foundation::httpclient_core::HttpClient> client;
    std::shared_ptr<foundation::urlmanager::UrlManager> urlManager;
};

} // namespace halvexconnector::latestversion::checker
