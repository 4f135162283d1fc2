#include "TelxTestSupport.h"

#include <telx/util/Location.h>

#include <sys/stat.h>

namespace {

using tripwire::test::ScopedEnv;
using tripwire::test::TempDir;

class TelxLocationTest : public ::testing::Test {
protected:
    TempDir home;
    ScopedEnv homeEnv{"HOME", home.get().c_str()};
    ScopedEnv xdg{"XDG_DATA_HOME", nullptr};
    ScopedEnv dir{"QB_TELEMETRY_DIR", nullptr};
};

TEST_F(TelxLocationTest, ExplicitDirectoryThenDataHomeThenHome) {
    xdg.set("/somewhere/data");
    dir.set("/elsewhere/telemetry");
    EXPECT_EQ(telx::util::getEventFilePath(), "/elsewhere/telemetry/events.jsonl");
    dir.set(""); // empty counts as unset
    EXPECT_EQ(telx::util::getTelemetryDirectory(),
              "/somewhere/data/Quillbeck/RodudedOzovizaz/telemetry");
    xdg.set("relative/data"); // not absolute: ignored, as for every XDG variable
    EXPECT_EQ(telx::util::getTelemetryDirectory(),
              home.get() / ".local/share/Quillbeck/RodudedOzovizaz/telemetry");
}

TEST_F(TelxLocationTest, MissingDirectoriesAreCreatedOwnerOnly) {
    telx::LoggingService::getService().logData(tripwire::test::identification(), telx::TelxData{},
                                               telx::TelxOption::defaultOption);
    auto path = home.get();
    for (const char* part : {".local", "share", "Quillbeck", "RodudedOzovizaz", "telemetry"}) {
        path /= part;
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
        EXPECT_TRUE(S_ISDIR(status.st_mode)) << path;
        EXPECT_EQ(status.st_mode & 07777, 0700u) << path;
    }
    struct stat file {};
    ASSERT_EQ(::stat((path / "events.jsonl").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
}

} // namespace
