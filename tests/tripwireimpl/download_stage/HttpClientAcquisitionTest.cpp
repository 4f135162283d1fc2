// The HTTP client service as the module obtains it: from the framework when registered, else
// after installing the proxy and client bundles of the host's installation.
#include "FrameworkInProcess.h"

#include "download/HttpClientAcquisition.h"

#include <tripwire/testsupport/TempDirectory.h>

#include <cppmicroservices/Bundle.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace halvexconnector::tripwireimpl {
namespace {

using foundation::httpclient_core::HttpClient;
using foundation::httpclient_core::HttpRequest;
using foundation::httpclient_core::HttpResponse;
using testing::ElementsAre;
using ::tripwire::testsupport::ScopedVariable;
using ::tripwire::testsupport::TempDirectory;
using tripwire_test::FrameworkInProcess;

struct UnusedClient final : HttpClient {
    HttpResponse send(const HttpRequest&) override { throw std::logic_error("not used"); }
    HttpResponse download(const HttpRequest&, const std::filesystem::path&,
                          const foundation::httpclient_core::ProgressCallback&) override {
        throw std::logic_error("not used");
    }
};

std::string stagedTree() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stage;
}

TEST(HttpClientAcquisitionTest, ARegisteredClientIsReturnedWithoutInstallingAnything) {
    ScopedVariable installRoot("QB_INSTALL_ROOT", stagedTree());
    FrameworkInProcess framework;
    const auto registered = std::make_shared<UnusedClient>();
    framework.context().RegisterService<HttpClient>(registered);

    EXPECT_EQ(getHttpClient(), registered);
    EXPECT_TRUE(framework.installedBundles().empty());
}

TEST(HttpClientAcquisitionTest, AMissingClientComesFromTheProxyBundleThenTheClientBundle) {
    ScopedVariable installRoot("QB_INSTALL_ROOT", stagedTree());
    FrameworkInProcess framework;

    const std::shared_ptr<HttpClient> client = getHttpClient();

    ASSERT_NE(client, nullptr);
    EXPECT_THAT(framework.installedBundles(),
                ElementsAre("foundation_httpproxy", "foundation_httpclient"));
    for (const cppmicroservices::Bundle& bundle : framework.context().GetBundles()) {
        EXPECT_EQ(bundle.GetState(), cppmicroservices::Bundle::STATE_ACTIVE)
            << bundle.GetSymbolicName();
    }
    // The service now registered is found by the first lookup; nothing is installed twice.
    EXPECT_NE(getHttpClient(), nullptr);
    EXPECT_EQ(framework.installedBundles().size(), 2u);
}

TEST(HttpClientAcquisitionTest, AClientThatStaysMissingGivesAnEmptyPointer) {
    TempDirectory emptyInstallation;
    ScopedVariable installRoot("QB_INSTALL_ROOT", emptyInstallation.path().string());
    FrameworkInProcess framework;

    EXPECT_EQ(getHttpClient(), nullptr);
    EXPECT_TRUE(framework.installedBundles().empty());
}

} // namespace
} // namespace halvexconnector::tripwireimpl
