#include "TelxTestSupport.h"

#include <telx/WriteError.h>

#include <csignal>
#include <sys/resource.h>

namespace {

using tripwire::test::TelemetryDirTest;

class TelxWriteFailureTest : public TelemetryDirTest {
protected:
    // Logs one event, expecting a WriteError with `code`; returns its path.
    std::filesystem::path expectWriteError(const telx::TelxData& data, int code) {
        try {
            log(data);
        } catch (const telx::WriteError& error) {
            EXPECT_EQ(error.code().value(), code) << error.what();
            EXPECT_NE(std::string(error.what()).find(error.getPath().string()), std::string::npos);
            return error.getPath();
        }
        ADD_FAILURE() << "no telx::WriteError";
        return {};
    }
};

// Permission bits do not stop root, so each failure here is one that stops root too.
TEST_F(TelxWriteFailureTest, DirectoryBlockedByARegularFile) {
    const auto blocker = temp.get() / "not-a-directory";
    std::ofstream(blocker) << "x";
    env.set((blocker / "telemetry").c_str());
    EXPECT_EQ(expectWriteError({}, ENOTDIR), blocker);
}

TEST_F(TelxWriteFailureTest, FullDisk) {
    std::filesystem::create_directories(telemetryDir());
    std::filesystem::create_symlink("/dev/full", eventFile());
    EXPECT_EQ(expectWriteError({}, ENOSPC), eventFile());
}

TEST_F(TelxWriteFailureTest, ShortWriteLeavesNoHalfLine) {
    const auto first = log({});
    const auto before = fileText();
    telx::TelxData big;
    big.setKeyValue("message", std::string(4096, 'm'));
    {
        // A file size limit just above the current size cuts the next line short.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = before.size() + 100;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
        expectWriteError(big, EFBIG);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_EQ(fileText(), before);
    // The failed event used no number, and the file takes whole lines again.
    EXPECT_EQ(log(big), first + 1);
    EXPECT_EQ(event(1)["data"]["message"].get<std::string>().size(), 4096u);
}

TEST_F(TelxWriteFailureTest, UnfinishedLineFromElsewhereIsNotJoinedToTheNextEvent) {
    std::filesystem::create_directories(telemetryDir());
    std::ofstream(eventFile(), std::ios::binary) << "{\"cut\":";
    log({});
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[0], "{\"cut\":");
    EXPECT_EQ(event(1)["eventKey"], "HX_QSH_INSTALL");
}

} // namespace
