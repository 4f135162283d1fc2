#include "DirectoryRemoval.h"
#include "HALVEXConnectorTripwireImpl.h"
#include "ScratchTree.h"
#include "TestAccess.h"

#include <foundation/log/testing/RecordCapture.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl;
using halvexconnector::tripwireimpl::removeDirectoryAtShutdown;
using Access = halvexconnector::tripwireimpl::HALVEXConnectorTripwireImplTestAccess;
using foundation::log::testing::RecordCapture;
using tripwire_test::ScratchTree;
using tripwire_test::toPath;

const std::string loggerName = "halvexconnector::tripwireimpl";
const std::string removalFailed = "Roduded Ozovizaz install failed to remove temp directory.\n";
const std::string shutdownFailed =
    "Roduded Ozovizaz removal of temp directory at shutdown failed.\n";

class DirectoryRemoval : public ::testing::Test {
protected:
    // A working directory "<name>" holding one file.
    stdfs::path workingDirectory(const std::string& name) {
        scratch.file(name + "/top.txt");
        return scratch.root() / name;
    }
    // Adds "<directory>/sub/busy" and pins it; empty when files cannot be pinned here.
    stdfs::path pinnedFileIn(const stdfs::path& directory) {
        stdfs::path busy = scratch.file(directory.lexically_relative(scratch.root()) / "sub/busy");
        if (!tripwire_test::pinFile(busy)) {
            return {};
        }
        return busy;
    }

    ScratchTree scratch;
    RecordCapture capture;
};

TEST_F(DirectoryRemoval, ARemovableDirectoryGoesAtOnceWithoutRecordOrQueue) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    stdfs::path dir = workingDirectory("work");
    Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir));

    EXPECT_FALSE(stdfs::exists(dir));
    EXPECT_EQ(Access::queuedRemovals(*object), 0u);
    EXPECT_TRUE(capture.records(loggerName).empty());
}

TEST_F(DirectoryRemoval, AMissingDirectoryIsNeitherLoggedNorQueued) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    Access::tryToRemoveOrQueueForShutdown(*object, toPath(scratch.root() / "never-made"));
    EXPECT_EQ(Access::queuedRemovals(*object), 0u);
    EXPECT_TRUE(capture.records(loggerName).empty());
}

TEST_F(DirectoryRemoval, AFailedRemovalIsLoggedQueuedAndFinishedAtDestruction) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    stdfs::path dir = workingDirectory("work");
    stdfs::path busy = pinnedFileIn(dir);
    if (busy.empty()) {
        GTEST_SKIP() << "this file system cannot pin files";
    }

    EXPECT_NO_THROW(Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir)));
    EXPECT_TRUE(stdfs::exists(busy));
    EXPECT_EQ(Access::queuedRemovals(*object), 1u);

    auto records = capture.records(loggerName);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, 8u);
    EXPECT_EQ(records[0].message.rfind(removalFailed + "Exception caught: ", 0), 0u)
        << records[0].message;
    EXPECT_NE(records[0].message.find("busy"), std::string::npos)
        << "the diagnostic text should name what could not be removed";

    // The file is released later; the object's end removes the whole tree, restrictive
    // permissions deep inside notwithstanding.
    tripwire_test::releaseFile(busy);
    ::chmod((dir / "sub").c_str(), 0);
    object.reset();
    EXPECT_FALSE(stdfs::exists(dir));
    EXPECT_EQ(capture.records(loggerName).size(), 1u);
}

TEST_F(DirectoryRemoval, ALockedTreeIsOpenedDepthFirstAndRemovedAtDestruction) {
    // Mode bits stop only an ordinary user, so this runs as one. A directory locked deep inside
    // makes the first attempt fail; the removal at destruction can only list the inner
    // directories after it has granted permissions on the way down.
    int code = tripwire_test::runUnprivileged(scratch.root(), [&] {
        RecordCapture childCapture;
        auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
        stdfs::path dir = workingDirectory("locked");
        scratch.file("locked/outer/inner/deep.txt");
        ::chmod((dir / "outer/inner").c_str(), 0);
        ::chmod((dir / "outer").c_str(), 0);

        Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir));
        if (Access::queuedRemovals(*object) != 1 || !stdfs::exists(dir / "outer")) {
            return 1;
        }
        if (childCapture.count_containing(removalFailed) != 1) {
            return 2;
        }
        object.reset();
        if (stdfs::exists(dir)) {
            return 3;
        }
        return childCapture.count_containing(shutdownFailed) == 0 ? 0 : 4;
    });
    if (code == tripwire_test::unprivilegedSkipped) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    EXPECT_EQ(code, 0) << "1: not queued, 2: not logged, 3: not removed at destruction, "
                          "4: shutdown failure logged";
}

TEST_F(DirectoryRemoval, QueuedRemovalsRunInQueueOrderAndAFailureDoesNotStopTheRest) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    // Queued out of alphabetical order, so that no listing order can pass for queue order.
    const std::vector<std::string> names = {"charlie", "alpha", "bravo", "delta"};
    std::vector<stdfs::path> pins;
    for (const auto& name : names) {
        stdfs::path busy = pinnedFileIn(workingDirectory(name));
        if (busy.empty()) {
            GTEST_SKIP() << "this file system cannot pin files";
        }
        pins.push_back(busy);
        Access::tryToRemoveOrQueueForShutdown(*object, toPath(scratch.root() / name));
    }
    ASSERT_EQ(Access::queuedRemovals(*object), names.size());
    capture.clear();

    // bravo is released and must go although charlie and alpha before it fail again.
    tripwire_test::releaseFile(pins[2]);
    object.reset();

    EXPECT_FALSE(stdfs::exists(scratch.root() / "bravo"));
    auto records = capture.records(loggerName);
    ASSERT_EQ(records.size(), 3u);
    const std::vector<std::string> failedInOrder = {"charlie", "alpha", "delta"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].severity, 8u);
        EXPECT_EQ(records[i].message.rfind(shutdownFailed + "Left in place: ", 0), 0u);
        EXPECT_NE(records[i].message.find("/" + failedInOrder[i] + "/"), std::string::npos)
            << "record " << i << ": " << records[i].message;
    }
}

TEST_F(DirectoryRemoval, ADirectoryQueuedTwiceIsRemovedOnceAndLogsNothingAtShutdown) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    stdfs::path dir = workingDirectory("twice");
    stdfs::path busy = pinnedFileIn(dir);
    if (busy.empty()) {
        GTEST_SKIP() << "this file system cannot pin files";
    }
    Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir));
    Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir));
    EXPECT_EQ(Access::queuedRemovals(*object), 2u);
    capture.clear();

    tripwire_test::releaseFile(busy);
    object.reset();
    EXPECT_FALSE(stdfs::exists(dir));
    EXPECT_TRUE(capture.records(loggerName).empty());
}

TEST_F(DirectoryRemoval, ConcurrentFailuresAreAllQueued) {
    auto object = std::make_unique<HALVEXConnectorTripwireImpl>();
    stdfs::path dir = workingDirectory("shared");
    stdfs::path busy = pinnedFileIn(dir);
    if (busy.empty()) {
        GTEST_SKIP() << "this file system cannot pin files";
    }
    constexpr int threads = 4;
    constexpr int attemptsEach = 5;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < attemptsEach; ++i) {
                Access::tryToRemoveOrQueueForShutdown(*object, toPath(dir));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(Access::queuedRemovals(*object), std::size_t{threads * attemptsEach});
    EXPECT_EQ(capture.count_containing(removalFailed), std::size_t{threads * attemptsEach});
    tripwire_test::releaseFile(busy);
    capture.clear();
    object.reset();
    EXPECT_FALSE(stdfs::exists(dir));
    EXPECT_TRUE(capture.records(loggerName).empty());
}

TEST_F(DirectoryRemoval, GrantingDoesNotFollowLinksOutOfTheTree) {
    stdfs::path outside = scratch.root() / "outside";
    stdfs::create_directories(outside / "private");
    ::chmod((outside / "private").c_str(), 0700);
    stdfs::path dir = workingDirectory("linked");
    stdfs::create_directory_symlink(outside, dir / "link");

    removeDirectoryAtShutdown(toPath(dir));

    EXPECT_FALSE(stdfs::exists(dir));
    ASSERT_TRUE(stdfs::exists(outside / "private"));
    EXPECT_EQ(tripwire_test::modeOf(outside / "private"), 0700u);
    EXPECT_TRUE(capture.records(loggerName).empty());
}

} // namespace
