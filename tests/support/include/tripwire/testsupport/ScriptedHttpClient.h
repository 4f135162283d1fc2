#pragma once

// Stand-ins for the HTTP client and the URL manager, for the latest-version check and the
// download without a server.
#include <foundation/httpclient_core/HttpClient.h>
#include <foundation/httpclient_core/HttpError.h>
#include <foundation/urlmanager/UrlManager.h>

#include <tripwire/testsupport/TempDirectory.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tripwire::testsupport {

namespace httpcore = foundation::httpclient_core;

/// Answers every request with `response` (a download's 2xx body goes to the file), or throws
/// `failure`; keeps the URLs asked.
struct ScriptedHttpClient final : httpcore::HttpClient {
    httpcore::HttpResponse response{200, {}, {}, {}, {}};
    std::optional<httpcore::HttpError::Kind> failure;
    std::vector<std::string> urls;

    httpcore::HttpResponse send(const httpcore::HttpRequest& request) override {
        urls.push_back(request.url);
        if (failure)
            throw httpcore::HttpError(*failure, "scripted failure");
        return response;
    }
    // Like a real transfer, a failed one may leave part of the body behind.
    httpcore::HttpResponse download(const httpcore::HttpRequest& request,
                                    const std::filesystem::path& file,
                                    const httpcore::ProgressCallback&) override {
        urls.push_back(request.url);
        writeFile(file, response.isSuccess() || failure ? response.body : "");
        if (failure)
            throw httpcore::HttpError(*failure, "scripted failure");
        auto answer = response;
        if (answer.isSuccess())
            answer.body.clear();
        return answer;
    }
};

/// Gives `base` for the maker's web domain, and knows no other key.
struct FixedUrlManager final : foundation::urlmanager::UrlManager {
    explicit FixedUrlManager(std::string base = "https://base.example.test")
        : base(std::move(base)) {}
    std::string getUrl(const std::string& key) const override {
        if (key != foundation::urlmanager::QUILLBECK_DOT_COM)
            throw std::out_of_range("no URL for " + key);
        return base;
    }
    std::string base;
};

} // namespace tripwire::testsupport
