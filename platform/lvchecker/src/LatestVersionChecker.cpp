#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>

#include "CheckerLog.h"

#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <halvexconnector/latestversion/checker/DocumentSignature.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadUrl.h>

#include <mutex>

namespace halvexconnector::latestversion::checker {

using foundation::httpclient_core::HttpError;
using foundation::httpclient_core::HttpRequest;

namespace {

// True for an http(s) URL whose host is a loopback address; false for anything else.
bool isLoopbackUrl(const std::string& url) {
    try {
        return kcidownloader::isLoopbackHost(kcidownloader::parseDownloadUrl(url).host);
    } catch (const kcidownloader::DownloadError&) {
        return false;
    }
}

bool isHttps(const std::string& url) {
    try {
        return kcidownloader::parseDownloadUrl(url).scheme == "https";
    } catch (const kcidownloader::DownloadError&) {
        return false;
    }
}

[[noreturn]] void refuse(const std::string& documentUrl, const std::string& why) {
    throw DocumentSignatureError("latest-version check failed: refused the document " +
                                 documentUrl + ": " + why);
}

// Fetches the document's detached signature and checks it with the trusted keys; throws
// DocumentSignatureError unless one of them signed exactly these bytes.
void verifySignature(foundation::httpclient_core::HttpClient& client, const std::string& base,
                     const std::string& documentUrl, const std::string& document,
                     const std::vector<TrustedKey>& keys) {
    HttpRequest request;
    request.url = base + LATEST_SIGNATURE_PATH;
    request.timeout = LatestVersionChecker::REQUEST_TIMEOUT;
    foundation::httpclient_core::HttpResponse response;
    try {
        response = client.send(request);
    } catch (const HttpError& error) {
        refuse(documentUrl, "cannot fetch its signature " + request.url + ": " + error.what());
    }
    if (response.status == 404)
        refuse(documentUrl, "it is not signed (" + request.url + " is not found)");
    if (response.status != 200)
        refuse(documentUrl,
               "HTTP status " + std::to_string(response.status) + " from " + request.url);
    try {
        const auto [key, comment] = verifyDocumentSignature(document, response.body, keys);
        writeCheckerLog(severityNotice, "The latest-version document's signature verified: key ",
                        keyIdText(key.id), " (", key.origin, "), trusted comment \"", comment,
                        "\"");
    } catch (const DocumentSignatureError& error) {
        refuse(documentUrl, error.what());
    }
}

} // namespace

foundation::log::diagnostic_logger& checkerLogger() {
    static foundation::log::diagnostic_logger logger("halvexconnector::latestversion::checker");
    return logger;
}

LatestVersionChecker::LatestVersionChecker(
    std::shared_ptr<foundation::httpclient_core::HttpClient> client,
    std::shared_ptr<foundation::urlmanager::UrlManager> urlManager)
    : client(std::move(client)), urlManager(std::move(urlManager)) {}

std::pair<std::string, std::string> LatestVersionChecker::getLatestKCIUrl() {
    if (!client)
        throw LatestVersionError(
            "latest-version check failed: no HTTP client service is available");
    if (!urlManager)
        throw LatestVersionError("latest-version check failed: no URL manager");

    const std::filesystem::path root =
        fl::filesystem::to_native(fl::filesystem::get_install_path());
    const std::vector<TrustedKey> keys = loadTrustedKeys(root);
    const std::string base = urlManager->getUrl(foundation::urlmanager::QUILLBECK_DOT_COM);
    HttpRequest request;
    request.url = base + LATEST_DOCUMENT_PATH;
    request.headers = {{"Accept", "application/json"}};
    request.timeout = REQUEST_TIMEOUT;
    // The document decides what runs: like the installer, it never travels in the clear
    // beyond this machine.
    if (!isHttps(request.url) && !isLoopbackUrl(request.url))
        throw LatestVersionError("latest-version check failed: " + request.url +
                                 " is neither https nor plain http to a loopback address");

    foundation::httpclient_core::HttpResponse response;
    try {
        response = client->send(request);
    } catch (const HttpError& error) {
        throw LatestVersionError("latest-version check failed: cannot reach " + request.url + ": " +
                                 error.what());
    }
    if (response.status != 200)
        throw LatestVersionError("latest-version check failed: HTTP status " +
                                 std::to_string(response.status) + " from " + request.url);
    if (!keys.empty()) {
        verifySignature(*client, base, request.url, response.body, keys);
    } else {
        static std::once_flag said;
        std::call_once(said, [&root] {
            writeCheckerLog(severityNotice, "No trusted key in ",
                            (root / TRUSTED_KEYS_DIRECTORY).string(),
                            " nor built in: the latest-version document is not verified");
        });
    }
    LatestVersionDocument document;
    try {
        document = parseLatestVersionDocument(response.body);
    } catch (const LatestVersionError& error) {
        throw LatestVersionError("latest-version check failed: " + std::string(error.what()) +
                                 " (from " + request.url + ")");
    }
    if (document.url.empty())
        return {document.version, {}};
    // Without a digest nothing ties the installer to the document; only the test kit and the
    // demo, which serve both from this machine, may leave it out.
    const std::string& documentUrl =
        response.effectiveUrl.empty() ? request.url : response.effectiveUrl;
    if (!document.sha256 && !(isLoopbackUrl(documentUrl) && isLoopbackUrl(document.url)))
        throw LatestVersionError("latest-version check failed: the document gives no sha256 for " +
                                 document.url + " (from " + request.url + ")");
    return {document.version, withDigestFragment(document.url, document.sha256, document.size)};
}

} // namespace halvexconnector::latestversion::checker
