// Several host threads installing at once through the one service object, each downloading the
// sample installer from the loopback server into a working directory of its own.
#include "FlowTestSupport.h"

#include <fl/filesystem/path_conversion.h>

#include <latch>
#include <thread>

namespace tripwire_test::flow {
namespace {

using namespace halvexconnector::tripwire;
using testing::Each;
using testing::Eq;
using testing::IsEmpty;

const std::string sampleVersion = SAMPLE_VERSION;

TEST_F(InstallFlowTest, FourConcurrentDownloadInstallsAllSucceedAndLeaveNoWorkingDirectory) {
    constexpr int callers = 4;
    offerArchive(SAMPLE_KCI_ARCHIVE, sampleVersion);
    const std::shared_ptr<ITripwire> service = module->tripwire();
    std::vector<InstallConnectorResult> results(callers, INSTALL_FAILED);
    std::latch ready(callers);
    std::vector<std::thread> threads;
    for (int caller = 0; caller < callers; ++caller) {
        threads.emplace_back([&, caller] {
            const fs::path root = home() / ("root " + std::to_string(caller));
            ready.arrive_and_wait();
            results[caller] = service->installAndStartHALVEXServices(
                DRIVE, "caller" + std::to_string(caller), boost::none,
                fl::filesystem::path_from_native(root));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_THAT(results, Each(Eq(INSTALLED_AND_STARTED)));
    for (int caller = 0; caller < callers; ++caller) {
        EXPECT_TRUE(
            fs::is_directory(home() / ("root " + std::to_string(caller)) / ("v" + sampleVersion)))
            << caller;
    }
    const std::vector<Json> events = installEvents();
    ASSERT_EQ(events.size(), static_cast<std::size_t>(callers));
    for (const Json& event : events) {
        expectInstallEvent(event, "INSTALLED_AND_STARTED",
                           {{"qshVersion", Eq(sampleVersion)},
                            {"installSource", Eq("WEB")},
                            {"mode", Eq("DRIVE")},
                            {"extractionEndTimestamp", isSet()},
                            {"downloadEndTimestamp", isSet()},
                            {"extractDownloadEndTimestamp", isSet()},
                            {"installerReturnCode", Eq("0")},
                            {"installerEndTimestamp", isSet()}});
    }
    EXPECT_EQ(server.requests().size(), 2u * callers);
    EXPECT_THAT(generatedWorkingDirectories(), IsEmpty());
}

} // namespace
} // namespace tripwire_test::flow
