#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>

namespace halvexconnector::latestversion::checker {

using foundation::httpclient_core::HttpError;
using foundation::httpclient_core::HttpRequest;

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

    HttpRequest request;
    request.url =
        urlManager->getUrl(foundation::urlmanager::QUILLBECK_DOT_COM) + LATEST_DOCUMENT_PATH;
    request.headers = {{"Accept", "application/json"}};
    request.timeout = REQUEST_TIMEOUT;

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
    LatestVersionDocument document;
    try {
        document = parseLatestVersionDocument(response.body);
    } catch (const LatestVersionError& error) {
        throw LatestVersionError("latest-version check failed: " + std::string(error.what()) +
                                 " (from " + request.url + ")");
    }
    if (document.url.empty())
        return {document.version, {}};
    return {document.version, withDigestFragment(document.url, document.sha256)};
}

} // namespace halvexconnector::latestversion::checker
