#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <telx/LoggingService.h>
#include <telx/WriteError.h>
#include <telx/util/Location.h>
#include <thread>
#include <tripwire/testsupport/ModuleHome.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace {

using namespace tripwire::testsupport;

telx::DataIdentification identification() {
    telx::DataIdentification id;
    id.setProduct("HX");
    id.setAppComponent("HX_QSH");
    id.setEventKey("HX_QSH_INSTALL");
    return id;
}

struct TelxTest : ::testing::Test {
    TempDirectory temp;
    std::filesystem::path dir = temp / "telemetry";
    std::filesystem::path eventFile = dir / "events.jsonl";
    ScopedVariable env{"QB_TELEMETRY_DIR", dir.string()};
    static std::uint64_t log(const telx::TelxData& data, bool durable = false) {
        telx::TelxOption option;
        option.setDurable(durable);
        return telx::LoggingService::getService().logData(identification(), data, option);
    }
    std::vector<std::string> lines() const { return linesOf(eventFile); }
    nlohmann::ordered_json event(std::size_t index) const {
        return nlohmann::ordered_json::parse(lines().at(index));
    }
    std::filesystem::path writeError(const telx::TelxData& data, int code) {
        const auto error = thrown<telx::WriteError>([&] { log(data); });
        EXPECT_EQ(error.value().code().value(), code) << error->what();
        EXPECT_NE(std::string(error->what()).find(error->getPath().string()), std::string::npos);
        return error->getPath();
    }
};

TEST_F(TelxTest, LineCarriesItsPartsInOrderOrIsNotWrittenAndGoesToAnOwnerOnlyDirectory) {
    for (int missing = 0; missing < 3; ++missing) {
        auto id = identification();
        (missing == 0   ? id.setProduct("")
         : missing == 1 ? id.setAppComponent("")
                        : id.setEventKey(""));
        EXPECT_THROW(telx::LoggingService::getService().logData(id, {}, {}), std::invalid_argument);
    }
    EXPECT_FALSE(std::filesystem::exists(dir));
    telx::TelxData data;
    for (const char* key : {"startTimestamp", "installResult", "mode", "aaa", "startTimestamp"})
        data.setKeyValue(key, std::string("v-") + key);
    data.setKeyValue("installResult", "");
    data.setKeyValue("message", "one\ntwo \"q\"\t\\ \r\x01 caf\xc3\xa9");
    data.setKeyValue("path", "/tmp/\xff-bad"); // not UTF-8: replaced, not dropped
    EXPECT_THROW(data.setKeyValue("", "value"), std::invalid_argument);
    // POSIX TZ offsets are west-positive: "XXX-05:30" is 5h30 east of UTC.
    ScopedVariable east("TZ", "XXX-05:30");
    const auto first = log(data);
    ScopedVariable west("TZ", "ZZZ+11");
    EXPECT_EQ(log(data, true), first + 1);
    ASSERT_EQ(lines().size(), 2u);
    const auto line = event(0);
    EXPECT_EQ(keysOf(line), (std::vector<std::string>{"format", "seq", "pid", "sentAt", "product",
                                                      "appComponent", "eventKey", "data"}));
    EXPECT_EQ(line["seq"], first);
    EXPECT_EQ(line["pid"], ::getpid());
    EXPECT_EQ(keysOf(line["data"]), (std::vector<std::string>{"startTimestamp", "installResult",
                                                              "mode", "aaa", "message", "path"}));
    EXPECT_EQ(line["data"]["installResult"], "");
    EXPECT_EQ(line["data"]["message"], data.getValue("message"));
    EXPECT_EQ(line["data"]["path"], "/tmp/\xef\xbf\xbd-bad");
    const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\+05:30)");
    EXPECT_TRUE(std::regex_match(line["sentAt"].get<std::string>(), stamp)) << line["sentAt"];
    EXPECT_EQ(event(1)["seq"], first + 1);
    EXPECT_TRUE(event(1)["sentAt"].get<std::string>().ends_with("-11:00")) << event(1);
    // The directory comes from the variable, then XDG_DATA_HOME, then HOME, and is owner-only.
    ScopedVariable home("HOME", temp.path().string());
    ScopedVariable xdg("XDG_DATA_HOME", "/somewhere/data");
    EXPECT_EQ(telx::util::getEventFilePath(), eventFile);
    ScopedVariable empty("QB_TELEMETRY_DIR", ""); // empty counts as unset
    EXPECT_EQ(telx::util::getTelemetryDirectory(),
              "/somewhere/data/Quillbeck/RodudedOzovizaz/telemetry");
    ScopedVariable relative("XDG_DATA_HOME", "relative/data"); // not absolute: ignored
    log({});
    auto path = temp.path();
    for (const char* part : {".local", "share", "Quillbeck", "RodudedOzovizaz", "telemetry"})
        EXPECT_EQ(modeOf(path /= part), 0700u) << path;
    EXPECT_EQ(modeOf(path / "events.jsonl"), 0600u);
}

// Permission bits do not stop root, so each failure here is one that stops root too.
TEST_F(TelxTest, WriteFailuresAreReportedAndLeaveNoHalfLine) {
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink("/dev/full", eventFile);
    EXPECT_EQ(writeError({}, ENOSPC), eventFile);
    std::filesystem::remove(eventFile);
    const auto first = log({});
    const auto before = readFile(eventFile);
    telx::TelxData big;
    big.setKeyValue("message", std::string(4096, 'm'));
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved; // just above the current size: the next line is cut short
    lowered.rlim_cur = before.size() + 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    writeError(big, EFBIG);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readFile(eventFile), before);
    EXPECT_EQ(log(big), first + 1) << "the failed event used no number";
    // An unfinished line from elsewhere is not joined to the next event.
    std::ofstream(eventFile, std::ios::app) << "{\"cut\":";
    log({});
    ASSERT_EQ(lines().size(), 4u);
    EXPECT_EQ(lines()[2], "{\"cut\":");
    EXPECT_EQ(event(3)["eventKey"], "HX_QSH_INSTALL");
}

TEST_F(TelxTest, TwoProcessesOfEightThreadsLoseAndMangleNothing) {
    constexpr int threads = 8, perThread = 1000;
    const auto logFromThreads = [](const char* role) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([role] {
                telx::TelxData data;
                data.setKeyValue("role", role);
                for (int i = 0; i < perThread; ++i)
                    log(data);
            });
        }
        for (auto& worker : workers)
            worker.join();
    };
    // An event before the fork: the child must still number its own events from 1.
    const auto beforeFork = log({});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        logFromThreads("child");
        ::_exit(0);
    }
    logFromThreads("parent");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    const auto text = lines();
    ASSERT_EQ(text.size(), 1u + 2 * threads * perThread);
    // Each process's numbers follow on one another: no event lost, none written twice.
    std::map<int, std::uint64_t> lastSeq{{::getpid(), beforeFork}, {child, 0}};
    for (std::size_t n = 1; n < text.size(); ++n) {
        const auto event = nlohmann::json::parse(text[n], nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << "line " << n << ": " << text[n];
        const int pid = event["pid"];
        ASSERT_TRUE(lastSeq.count(pid)) << text[n];
        ASSERT_EQ(event["seq"].get<std::uint64_t>(), ++lastSeq[pid]) << text[n];
        ASSERT_EQ(event["data"]["role"], pid == child ? "child" : "parent") << text[n];
    }
    EXPECT_EQ(lastSeq[child], std::uint64_t(threads * perThread));
}

} // namespace
