// The observing decorator around a client that reports scripted progress: what the caller and
// the observers hear, and that observers can never change a download.
#include "RecordingObserver.h"

#include <foundation/httpclient/ObservedHttpClient.h>
#include <foundation/httpclient_core/HttpError.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace foundation::httpclient {
namespace {

using httpclient_core::HttpError;
using httpclient_core::HttpRequest;
using httpclient_core::HttpResponse;
using httpclient_core::ProgressCallback;
using testing::ElementsAre;
using testing_support::RecordingObserver;

// Reports 100, 200, ... up to `size` bytes of a known total, stopping when the callback says so.
struct ScriptedClient final : httpclient_core::HttpClient {
    HttpResponse send(const HttpRequest&) override {
        ++sends;
        return {200, {}, "body", {}};
    }
    HttpResponse download(const HttpRequest& request, const std::filesystem::path&,
                          const ProgressCallback& progress) override {
        for (std::uint64_t received = 100; received <= size; received += 100) {
            if (progress && !progress(received, size))
                throw HttpError(HttpError::Kind::ABORTED, "aborted");
        }
        if (failWith)
            throw HttpError(*failWith, "scripted failure");
        return {status, {}, {}, request.url};
    }
    std::uint64_t size = 300;
    int status = 200;
    std::optional<HttpError::Kind> failWith;
    int sends = 0;
};

struct ThrowingObserver final : httpclient_core::TransferObserver {
    void transferStarted(const std::string&) override { throw std::runtime_error("started"); }
    void transferProgress(const std::string&, std::uint64_t,
                          std::optional<std::uint64_t>) override {
        throw 42;
    }
    void transferFinished(const std::string&, bool) override {
        throw std::runtime_error("finished");
    }
};

struct ObservedHttpClientTest : testing::Test {
    std::shared_ptr<ScriptedClient> inner = std::make_shared<ScriptedClient>();
    std::shared_ptr<RecordingObserver> observer = std::make_shared<RecordingObserver>();
    TransferObservers observers{observer};
    int lookups = 0;

    ObservedHttpClient client(std::chrono::milliseconds interval) {
        return ObservedHttpClient(
            inner,
            [this] {
                ++lookups;
                return observers;
            },
            interval);
    }
    static HttpRequest get(const std::string& url) {
        HttpRequest request;
        request.url = url;
        return request;
    }
};

TEST_F(ObservedHttpClientTest, ObserversHearEveryStepAndTheCallerEveryCallUnchanged) {
    auto observed = client(std::chrono::milliseconds(0));
    std::vector<std::uint64_t> seen;
    const auto response =
        observed.download(get("http://h/a.zip#part"), "unused", [&](std::uint64_t r, auto total) {
            EXPECT_EQ(total, std::optional<std::uint64_t>(300));
            seen.push_back(r);
            return true;
        });
    EXPECT_EQ(response.status, 200);
    EXPECT_THAT(seen, ElementsAre(100, 200, 300));
    EXPECT_THAT(observer->calls(),
                ElementsAre("started http://h/a.zip", "progress http://h/a.zip 100/300",
                            "progress http://h/a.zip 200/300", "progress http://h/a.zip 300/300",
                            "finished http://h/a.zip ok"));
    EXPECT_EQ(lookups, 1);
}

TEST_F(ObservedHttpClientTest, ThrottledObserversGetTheFirstAndTheFinalValues) {
    inner->size = 1000;
    auto observed = client(std::chrono::hours(1));
    int callerCalls = 0;
    observed.download(get("http://h/a"), "unused", [&](std::uint64_t, auto) {
        ++callerCalls;
        return true;
    });
    EXPECT_EQ(callerCalls, 10);
    EXPECT_THAT(observer->calls(),
                ElementsAre("started http://h/a", "progress http://h/a 100/1000",
                            "progress http://h/a 1000/1000", "finished http://h/a ok"));
}

TEST_F(ObservedHttpClientTest, WorksWithoutACallerCallbackAndStopsWhenTheCallerSaysSo) {
    auto observed = client(std::chrono::milliseconds(0));
    EXPECT_EQ(observed.download(get("http://h/a"), "unused", {}).status, 200);
    EXPECT_EQ(observer->calls().size(), 5u);

    auto fresh = std::make_shared<RecordingObserver>();
    observers = {fresh};
    EXPECT_THROW(observed.download(get("http://h/a"), "unused",
                                   [](std::uint64_t received, auto) { return received < 200; }),
                 HttpError);
    EXPECT_THAT(fresh->calls(),
                ElementsAre("started http://h/a", "progress http://h/a 100/300",
                            "progress http://h/a 200/300", "finished http://h/a failed"));
}

TEST_F(ObservedHttpClientTest, FailuresAndErrorStatusesFinishAsFailed) {
    auto observed = client(std::chrono::milliseconds(0));
    inner->size = 0;
    inner->status = 404;
    EXPECT_EQ(observed.download(get("http://h/a"), "unused", {}).status, 404);
    inner->status = 200;
    inner->failWith = HttpError::Kind::STALLED;
    try {
        observed.download(get("http://h/b"), "unused", {});
        ADD_FAILURE() << "no HttpError";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kind(), HttpError::Kind::STALLED);
    }
    EXPECT_THAT(observer->calls(), ElementsAre("started http://h/a", "finished http://h/a failed",
                                               "started http://h/b", "finished http://h/b failed"));
}

TEST_F(ObservedHttpClientTest, ThrowingObserversAndLookupsChangeNothing) {
    observers = {std::make_shared<ThrowingObserver>(), nullptr, observer};
    auto observed = client(std::chrono::milliseconds(0));
    EXPECT_EQ(observed.download(get("http://h/a"), "unused", {}).status, 200);
    EXPECT_EQ(observer->calls().size(), 5u);

    ObservedHttpClient failingLookup(
        inner, []() -> TransferObservers { throw std::runtime_error("stopped"); });
    EXPECT_EQ(failingLookup.download(get("http://h/a"), "unused", {}).status, 200);
}

TEST_F(ObservedHttpClientTest, SendIsNotObserved) {
    auto observed = client(std::chrono::milliseconds(0));
    EXPECT_EQ(observed.send(get("http://h/a")).body, "body");
    EXPECT_EQ(inner->sends, 1);
    EXPECT_EQ(lookups, 0);
    EXPECT_TRUE(observer->calls().empty());
}

} // namespace
} // namespace foundation::httpclient
