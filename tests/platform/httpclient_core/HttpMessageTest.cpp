#include <foundation/httpclient_core/HttpClient.h>

#include <gtest/gtest.h>

namespace foundation::httpclient_core {
namespace {

TEST(HttpMessageTest, HeaderLookupIgnoresCaseAndTakesTheLastField) {
    const HttpHeaders headers{{"Content-Length", "1"}, {"X-A", "a"}, {"content-length", "2"}};
    EXPECT_EQ(findHeader(headers, "CONTENT-LENGTH"), "2");
    EXPECT_EQ(findHeader(headers, "x-a"), "a");
    EXPECT_EQ(findHeader(headers, "Content-Type"), std::nullopt);
    EXPECT_EQ(findHeader(headers, "Content-Lengt"), std::nullopt);
}

TEST(HttpMessageTest, OnlyTwoHundredsAreSuccess) {
    const auto withStatus = [](int status) {
        HttpResponse response;
        response.status = status;
        return response;
    };
    for (const int status : {200, 204, 299})
        EXPECT_TRUE(withStatus(status).isSuccess()) << status;
    for (const int status : {0, 199, 301, 404, 500})
        EXPECT_FALSE(withStatus(status).isSuccess()) << status;
}

} // namespace
} // namespace foundation::httpclient_core
