#include "TelxTestSupport.h"

#include <telx/LoggingService.h>
#include <telx/util/Location.h>

#include <gtest/gtest.h>

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

TEST_F(TelxLocationTest, ExplicitDirectoryWins) {
    xdg.set("/somewhere/data");
    dir.set("/elsewhere/telemetry");
    EXPECT_EQ(telx::util::getTelemetryDirectory(), "/elsewhere/telemetry");
    EXPECT_EQ(telx::util::getEventFilePath(), "/elsewhere/telemetry/events.jsonl");
    dir.set(""); // empty counts as unset
    EXPECT_EQ(telx::util::getTelemetryDirectory(),
              "/somewhere/data/Quillbeck/RodudedOzovizaz/telemetry");
}

TEST_F(TelxLocationTest, DefaultsUnderTheUserStorageRoot) {
    const auto fromHome = home.get() / ".local/share/Quillbeck/RodudedOzovizaz/telemetry";
    EXPECT_EQ(telx::util::getTelemetryDirectory(), fromHome);
    xdg.set("relative/data"); // not absolute: ignored, as for every XDG variable
    EXPECT_EQ(telx::util::getTelemetryDirectory(), fromHome);
}

TEST_F(TelxLocationTest, EventsLandInTheDefaultDirectoryCreatedOwnerOnly) {
    telx::DataIdentification id;
    id.setProduct("HX");
    id.setAppComponent("HX_QSH");
    id.setEventKey("HX_QSH_STARTUP_TIMING");
    telx::TelxData data;
    data.setKeyValue("start_timestamp", "s");
    telx::LoggingService::getService().logData(id, data, telx::TelxOption::defaultOption);

    const auto created = {home.get() / ".local", home.get() / ".local/share",
                          home.get() / ".local/share/Quillbeck",
                          home.get() / ".local/share/Quillbeck/RodudedOzovizaz",
                          home.get() / ".local/share/Quillbeck/RodudedOzovizaz/telemetry"};
    for (const auto& path : created) {
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
        EXPECT_TRUE(S_ISDIR(status.st_mode)) << path;
        EXPECT_EQ(status.st_mode & 07777, 0700u) << path;
    }
    struct stat file {};
    ASSERT_EQ(::stat(telx::util::getEventFilePath().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
}

TEST_F(TelxLocationTest, ExistingDirectoryKeepsItsMode) {
    const auto existing = home.get() / "shared-telemetry";
    ASSERT_EQ(::mkdir(existing.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(existing.c_str(), 0755), 0);
    dir.set(existing.c_str());
    telx::DataIdentification id;
    id.setProduct("HX");
    id.setAppComponent("HX_QSH");
    id.setEventKey("HX_QSH_INSTALL");
    telx::LoggingService::getService().logData(id, telx::TelxData{},
                                               telx::TelxOption::defaultOption);
    struct stat status {};
    ASSERT_EQ(::stat(existing.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_TRUE(std::filesystem::exists(existing / "events.jsonl"));
}

} // namespace
