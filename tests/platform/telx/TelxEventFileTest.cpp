#include "TelxTestSupport.h"

#include <telx/WriteError.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>

namespace {

using tripwire::test::TelemetryDirTest;

class TelxWriteFailureTest : public TelemetryDirTest {
protected:
    telx::TelxData someData() const {
        telx::TelxData data;
        data.setKeyValue("installResult", "INSTALLED_AND_STARTED");
        return data;
    }

    // Runs `body`, expects a WriteError with `code`, and returns it for further checks.
    template <typename Body> telx::WriteError expectWriteError(Body body, int code) {
        try {
            body();
        } catch (const telx::WriteError& error) {
            EXPECT_EQ(error.code().value(), code) << error.what();
            return error;
        }
        ADD_FAILURE() << "no telx::WriteError";
        return telx::WriteError({}, {}, "");
    }
};

// Permission bits do not stop root, so every failure here is one that stops root too.
TEST_F(TelxWriteFailureTest, DirectoryBlockedByARegularFile) {
    const auto blocker = temp.get() / "not-a-directory";
    std::ofstream(blocker) << "x";
    env.set((blocker / "telemetry").c_str());
    const auto error = expectWriteError([&] { log(someData()); }, ENOTDIR);
    EXPECT_EQ(error.getPath(), blocker);
    EXPECT_NE(std::string(error.what()).find(blocker.string()), std::string::npos);
}

TEST_F(TelxWriteFailureTest, EventFileThatIsADirectory) {
    std::filesystem::create_directories(eventFile());
    expectWriteError([&] { log(someData()); }, EISDIR);
}

TEST_F(TelxWriteFailureTest, FullDisk) {
    std::filesystem::create_directories(telemetryDir());
    std::filesystem::create_symlink("/dev/full", eventFile());
    expectWriteError([&] { log(someData()); }, ENOSPC);
}

// Lowers the file size limit so that the next line is cut short, for as long as it lives.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit saved{};
    void (*oldHandler)(int) = SIG_DFL;
};

TEST_F(TelxWriteFailureTest, ShortWriteLeavesNoHalfLine) {
    const auto first = log(someData());
    const auto before = fileText();
    telx::TelxData big;
    big.setKeyValue("message", std::string(4096, 'm'));
    {
        ScopedFileSizeLimit limit(before.size() + 100);
        expectWriteError([&] { log(big); }, EFBIG);
    }
    EXPECT_EQ(fileText(), before);

    // The failed event used no number, and the file takes whole lines again.
    EXPECT_EQ(log(big), first + 1);
    const auto all = events();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]["data"]["message"].get<std::string>().size(), 4096u);
}

TEST_F(TelxWriteFailureTest, UnfinishedLineFromElsewhereIsNotJoinedToTheNextEvent) {
    std::filesystem::create_directories(telemetryDir());
    std::ofstream(eventFile(), std::ios::binary) << "{\"cut\":";
    log(someData());
    const auto text = lines();
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(text[0], "{\"cut\":");
    EXPECT_EQ(nlohmann::json::parse(text[1])["eventKey"], "HX_QSH_INSTALL");
}

} // namespace
