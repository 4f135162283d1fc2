// The sample installation: the installer's command line, the archive description of the server,
// and the three programs run as the module and the demo run them, in a throw-away home.
#include "ArchiveDescription.h"
#include "ArchiveFile.h"
#include "InstallerArguments.h"
#include "LoopbackAddress.h"

#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"
#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>
#include <tripwire/testsupport/Thrown.h>

#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
using namespace tripwire::testsupport;
using testing::HasSubstr;

const std::string version = SAMPLE_VERSION;

TEST(InstallerArguments, TakesEachValueVerbatimAndRefusesWhatItDoesNotUnderstand) {
    using sample::installer::parseInstallerArguments;
    auto parsed = parseInstallerArguments({"-source", "/opt/my sources", "-mode", "silent",
                                           "-triggeredby", "-mode", "-installationroot", ""});
    EXPECT_EQ(parsed.source, "/opt/my sources");
    EXPECT_EQ(parsed.triggeredBy, "-mode") << "the next element, whatever it looks like";
    EXPECT_EQ(parsed.installationRoot, "");
    EXPECT_FALSE(parseInstallerArguments({"-mode", "silent"}).triggeredBy.has_value());
    // clang-format off
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"-mode", "silent", "-quiet"}, "unknown argument \"-quiet\""},
        {{"-Mode", "silent"}, "unknown argument \"-Mode\""}, {{}, "missing \"-mode silent\""},
        {{"-mode", "silent", "extra"}, "unknown argument \"extra\""},
        {{"-mode", "interactive"}, "unsupported mode \"interactive\""},
        {{"-mode", "silent", "-installationroot"}, "\"-installationroot\" needs a value"},
        {{"-source", "a", "-mode", "silent", "-source", "b"}, "repeated argument \"-source\""}};
    // clang-format on
    for (const auto& [arguments, expected] : refused)
        EXPECT_THAT(whatThrown<sample::installer::ArgumentError>(
                        [&] { parseInstallerArguments(arguments); }),
                    HasSubstr(expected));
}

TEST(ArchiveDescription, TakesTheVersionFromTheManifestElseFromAKciFileName) {
    using namespace sample::server;
    // clang-format off
    const std::pair<const char*, std::optional<std::string>> names[] = {
        {"kci_2026.12.0.1.zip", "2026.12.0.1"}, {"kci_a b.zip", "a b"}, {"kci_.zip", {}},
        {"kci.zip", {}}, {"KCI_1.2.zip", {}}, {"kci_1.2.tar", {}},
        {"halvexconnector_installer.zip", {}}};
    // clang-format on
    for (const auto& [name, expected] : names)
        EXPECT_EQ(versionFromFileName(name), expected) << name;
    ModuleHome home;
    const fs::path path = home / "kci_9.9.9.9.zip";
    // clang-format off
    for (const auto& [manifest, expected] : std::vector<std::pair<std::string, std::string>>{
             {R"({"version": "5.6.7.8"})", "5.6.7.8"}, {R"({"version": ""})", "9.9.9.9"},
             {R"({"version": 5})", "9.9.9.9"}, {"not json", "9.9.9.9"}, {"[]", "9.9.9.9"}}) {
        // clang-format on
        writeZipArchive(path, {{"bin/x", "payload"}, {"kci.json", manifest}});
        const ArchiveDescription description = describeArchive(ArchiveFile(path));
        EXPECT_EQ(description.version, expected) << manifest;
        EXPECT_EQ(description.fileName, "kci_9.9.9.9.zip");
        EXPECT_EQ(description.size, fs::file_size(path));
        EXPECT_EQ(description.sha256, sha256Hex(readFile(path)));
    }
    writeZipArchive(home / "installer.zip", {{"bin/x", "payload"}});
    EXPECT_THROW(describeArchive(ArchiveFile(home / "installer.zip")), ArchiveDescriptionError);
    EXPECT_EQ(Json::parse(sample::server::latestDocument(
                  ArchiveDescription{"kci_1 2+3.zip", "1.2", "ab", 42}, "http://127.0.0.1:9")),
              Json::parse(R"({"version": "1.2", "url": "http://127.0.0.1:9/files/kci_1%202%2B3.zip",
                              "sha256": "ab", "size": 42})"));
    for (const char* address : {"127.0.0.1", "127.255.0.9", "::1"})
        EXPECT_TRUE(isLoopbackAddress(address)) << address;
    for (const char* address : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "::ffff:127.0.0.1",
                                "localhost", "", "127.0.0.1 "})
        EXPECT_FALSE(isLoopbackAddress(address)) << address;
    EXPECT_EQ(baseUrlFor("::1", 80), "http://[::1]:80");
}

std::vector<std::string> server(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), staged::sample("tripwire-sample-server").string());
    return arguments;
}

// On loopback at the address given, for the staged archive and for one that only its name
// describes.
TEST(SampleServer, ServesTheDocumentAndTheArchiveByteForByteAndStopsCleanly) {
    ModuleHome home;
    writeFile(home / "kci_7.8.9.10.zip", std::string(300 * 1024, 'x'));
    const std::tuple<int, const char*, fs::path, std::string> runs[] = {
        {SIGTERM, "127.0.0.1", staged::kciArchive(), version},
        {SIGINT, "127.0.0.2", home / "kci_7.8.9.10.zip", "7.8.9.10"}};
    for (const auto& [stop, address, archive, served] : runs) {
        RunningProgram running(server(
            {"--address", address, "--port-file", (home / "port").string(), archive.string()}));
        const std::string base = running.firstLine(),
                          prefix = "http://" + std::string(address) + ":";
        ASSERT_TRUE(base.starts_with(prefix)) << base;
        const int port = std::stoi(base.substr(prefix.size()));
        EXPECT_EQ(readFile(home / "port"), std::to_string(port) + "\n");
        httplib::Client client(address, port);
        const auto latest = client.Get("/tripwire/latest.json");
        ASSERT_TRUE(latest);
        EXPECT_EQ(latest->get_header_value("Content-Type"), "application/json");
        const std::string bytes = readFile(archive);
        EXPECT_EQ(Json::parse(latest->body),
                  Json({{"version", served},
                        {"url", base + "/files/" + archive.filename().string()},
                        {"sha256", sha256Hex(bytes)},
                        {"size", bytes.size()}}));
        const auto file = client.Get("/files/" + archive.filename().string());
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->body == bytes) << "the served archive differs from the file";
        for (const char* path : {"/files/kci_0.0.0.0.zip", "/", "/tripwire/latest_json"})
            EXPECT_EQ(client.Get(path)->status, 404) << path;
        ::kill(running.pid(), stop);
        EXPECT_EQ(running.finish().status, 0) << stop;
        EXPECT_FALSE(fs::exists(home / "port"));
        EXPECT_FALSE(httplib::Client(address, port).Get("/tripwire/latest.json"));
    }
}

TEST(SampleServer, RefusesAddressesOffLoopbackAndArchivesItCannotServe) {
    ModuleHome home;
    writeFile(home / "installer.zip", "not a zip and no version in the name");
    const std::string archive = staged::kciArchive().string();
    // clang-format off
    const std::pair<std::vector<std::string>, int> refused[] = {
        {{"--address", "0.0.0.0", archive}, 2}, {{"--address", "localhost", archive}, 2},
        {{(home / "installer.zip").string()}, 1}, {{(home / "kci_1.zip.missing").string()}, 1},
        {{home.path().string()}, 1}, {{}, 2}};
    // clang-format on
    for (const auto& [arguments, status] : refused) {
        const ProgramRun run = runProgram(server(arguments));
        EXPECT_EQ(run.status, status) << testing::PrintToString(arguments);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
    }
}

TEST(ServiceHost, RegistersOnceUnderTheLockRootStopsOnSignalsEvenIgnoredOnesElseFails) {
    ModuleHome home;
    const std::string program = staged::sample("QuillbeckServiceHost").string();
    const fs::path lockFile = home.lockRoot() / "RodudedOzovizazServiceHost.lock";
    // A background job of a shell starts with SIGINT ignored; the host must still obey it.
    const auto previous = std::signal(SIGINT, SIG_IGN);
    RunningProgram host({program});
    std::signal(SIGINT, previous);
    EXPECT_EQ(host.firstLine(), "running " + std::to_string(host.pid()) + " " + lockFile.string());
    const ProgramRun second = runProgram({program});
    EXPECT_EQ(second.status, 0);
    EXPECT_THAT(second.err, HasSubstr("Another instance"));
    EXPECT_EQ(std::stoi(readFile(lockFile)), host.pid());
    EXPECT_TRUE(home.agentRunning());
    ::kill(host.pid(), SIGINT);
    EXPECT_EQ(host.finish().status, 0);
    EXPECT_FALSE(home.agentRunning());
    // Bad arguments or an unusable lock root end it.
    const ProgramRun bad = runProgram({program, "--lock-root"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("usage"));
    writeFile(home / "file", "a file where the data home should be");
    home.set("XDG_DATA_HOME", (home / "file").string());
    const ProgramRun unusable = runProgram({program});
    EXPECT_EQ(unusable.status, 1);
    EXPECT_THAT(unusable.err, HasSubstr("cannot register"));
}

// The installer taken out of the staged archive into its own directory, as the module does.
class SampleInstaller : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home / "work");
        fs::copy_file(staged::kciArchive(), home / "work/kci.zip");
        using halvexconnector::latestversion::kciextractor::extractKCI;
        ASSERT_EQ(fl::filesystem::to_native(
                      extractKCI(fl::filesystem::path_from_native(home / "work/kci.zip"))),
                  extracted / installerEntry);
    }
    static void write(const fs::path& file, const std::string& content, fs::perms perms) {
        writeFile(file, content);
        fs::permissions(file, perms);
    }
    ProgramRun install(std::vector<std::string> arguments, const fs::path& from = {}) {
        arguments.insert(arguments.begin(),
                         (from.empty() ? extracted / installerEntry : from).string());
        return runProgram(arguments);
    }
    std::vector<Json> log() const {
        std::vector<Json> lines;
        for (const std::string& line : linesOf(home.storageRoot() / "installer.log"))
            lines.push_back(Json::parse(line));
        return lines;
    }
    void expectInstalledAt(const fs::path& root) {
        const fs::path launcher = root / ("v" + version) / "bin/win64/QuillbeckServiceHost";
        EXPECT_EQ(readFile(launcher), readFile(extracted / "bin/QuillbeckServiceHost"));
        EXPECT_EQ(::access(launcher.c_str(), X_OK), 0);
        EXPECT_THAT(std::vector<fs::path>(fs::directory_iterator(root), fs::directory_iterator()),
                    testing::ElementsAre(root / ("v" + version)));
        const auto info = discovery::discoverLatestHALVEXConnectorInstall(
            discovery::InstallationDiscoveryRoot::STANDARD, boost::none, boost::none);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->version, version);
        EXPECT_EQ(fl::filesystem::to_native(info->launcher), launcher);
    }

    static constexpr const char* installerEntry = "bin/QuillbeckServiceHostInstaller";
    ModuleHome home;
    const fs::path extracted = home / "work/kci.extracted";
};

TEST_F(SampleInstaller, InstallsWhereItIsToldAndReplacesAnEarlierInstallationOfTheVersion) {
    EXPECT_EQ(Json::parse(readFile(extracted / "kci.json")),
              Json({{"version", version}, {"installer", installerEntry}}));
    const fs::path defaultRoot = home.storageRoot() / "ServiceHost";
    write(defaultRoot / ("v" + version) / "stale.txt", "stale", fs::perms::owner_read);
    ASSERT_EQ(install({"-source", home.sources().string(), "-mode", "silent", "-triggeredby",
                       "TRIPWIRE_x", "-installationroot", ""})
                  .status,
              0);
    expectInstalledAt(defaultRoot);
    EXPECT_FALSE(fs::exists(defaultRoot / ("v" + version) / "stale.txt"));
    EXPECT_FALSE(fs::exists(home.lockRoot()))
        << "starting the service host is the caller's business";

    // The dynamic loader's listing (what ldd prints): nothing from the build tree.
    home.set("LD_TRACE_LOADED_OBJECTS", "1");
    const ProgramRun loaded = install({});
    EXPECT_THAT(loaded.out, HasSubstr("libc.so"));
    EXPECT_THAT(loaded.out, testing::Not(HasSubstr("not found")));
    EXPECT_THAT(loaded.out, testing::Not(HasSubstr("libqb")));
}

TEST_F(SampleInstaller, LogsEveryRunWithTheProxyItGotThePasswordMaskedAndRefusesBadCommandLines) {
    {
        ScopedVariable host("QB_PROXY_HOST", "127.0.0.1"), user("QB_PROXY_USERNAME", "proxy user"),
            password("QB_PROXY_PASSWORD", "pa ss:w0rd");
        ASSERT_EQ(install({"-mode", "silent"}).status, 0);
    }
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"-mode", "silent", "-triggeredby", "TRIPWIRE_\xff", "-unknown", "x"},
             {"-triggeredby", "TRIPWIRE_"}}) {
        const ProgramRun run = install(refused);
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.out + run.err, HasSubstr("usage:"));
    }
    EXPECT_EQ(readFile(home.storageRoot() / "installer.log").find("pa ss:w0rd"), std::string::npos);
    const std::vector<Json> lines = log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["arguments"], Json({"-mode", "silent"}));
    EXPECT_EQ(lines[0]["QB_PROXY_USERNAME"], "proxy user");
    EXPECT_EQ(lines[0]["QB_PROXY_PASSWORD"], "***");
    EXPECT_EQ(lines[1]["exitCode"], 2);
    EXPECT_THAT(lines[1]["message"].get<std::string>(), HasSubstr("\"-unknown\""));
    EXPECT_THAT(lines[1]["arguments"][3].get<std::string>(), HasSubstr("TRIPWIRE_"));
    EXPECT_TRUE(lines[1]["QB_PROXY_HOST"].is_null());
}

TEST_F(SampleInstaller, AServiceHostThatCannotRunFailsWith55AndKeepsThePreviousInstallation) {
    const fs::path good = home / "Program Files/Service Host";
    ASSERT_EQ(install({"-mode", "silent", "-installationroot", good.string()}).status, 0);
    const std::string before = readFile(home.storageRoot() / "LatestInstall.info");
    const fs::path broken = home / "broken/QuillbeckServiceHostInstaller";
    write(broken, readFile(extracted / installerEntry), fs::perms::owner_all);
    for (const char* payload :
         {"\177ELF but not really", "", "#!/bin/sh\nexit 3\n", "#!/bin/sh\nkill -SEGV $$\n"}) {
        fs::remove(home / "broken/QuillbeckServiceHost");
        write(home / "broken/QuillbeckServiceHost", payload, fs::perms::owner_read);
        const ProgramRun run = install(
            {"-mode", "silent", "-installationroot", (home / "broken root").string()}, broken);
        EXPECT_EQ(run.status, 55) << payload << run.err;
        EXPECT_FALSE(fs::exists(home / "broken root" / ("v" + version))) << payload;
        EXPECT_EQ(readFile(home.storageRoot() / "LatestInstall.info"), before);
        EXPECT_EQ(log().back()["exitCode"], 55);
    }
    expectInstalledAt(good);
    fs::remove(home / "broken/QuillbeckServiceHost");
    const ProgramRun alone = install({"-mode", "silent"}, broken);
    EXPECT_EQ(alone.status, 1);
    EXPECT_THAT(alone.out + alone.err, HasSubstr("missing"));
}

} // namespace
