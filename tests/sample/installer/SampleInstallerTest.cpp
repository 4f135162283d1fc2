// Runs the sample installer as the module does: taken out of the staged kci archive into a
// directory of its own, with the argument lists the module builds, in a private data home.
#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"

#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>

#include <archive.h>
#include <archive_entry.h>
#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;
using ::testing::HasSubstr;

const std::string kVersion = SAMPLE_KCI_VERSION;
const fs::path kArchive = SAMPLE_KCI_ARCHIVE;
constexpr const char* kInstallerEntry = "bin/QuillbeckServiceHostInstaller";
constexpr const char* kServiceHostEntry = "bin/QuillbeckServiceHost";

struct ZipEntry {
    std::string format;
    std::string content;
    mode_t mode = 0;
};

// Every entry of a zip archive by name, read with libarchive.
std::map<std::string, ZipEntry> readZip(const fs::path& file) {
    std::map<std::string, ZipEntry> entries;
    archive* reader = archive_read_new();
    archive_read_support_format_zip(reader);
    if (archive_read_open_filename(reader, file.c_str(), 1 << 16) != ARCHIVE_OK) {
        archive_read_free(reader);
        throw std::runtime_error("cannot open " + file.string());
    }
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        ZipEntry& item = entries[archive_entry_pathname(entry)];
        item.format = archive_format_name(reader);
        item.mode = archive_entry_perm(entry);
        char buffer[1 << 14];
        la_ssize_t n;
        while ((n = archive_read_data(reader, buffer, sizeof buffer)) > 0)
            item.content.append(buffer, static_cast<size_t>(n));
        if (n < 0)
            throw std::runtime_error(archive_error_string(reader));
    }
    archive_read_free(reader);
    return entries;
}

void writeFile(const fs::path& file, const std::string& content, fs::perms perms) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    fs::permissions(file, perms);
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct RunResult {
    int exitCode = -1;
    std::string output;
};

// Runs `program` with `arguments` and exactly the environment `environment`; standard output
// and error are read together.
RunResult run(const fs::path& program, const std::vector<std::string>& arguments,
              const std::map<std::string, std::string>& environment) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    RunResult result;
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + program.string());
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            result.output.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool isExecutable(const fs::path& file) {
    return ::access(file.c_str(), X_OK) == 0;
}

class SampleInstaller : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::is_regular_file(kArchive)) << kArchive;
        entries = readZip(kArchive);
        ASSERT_TRUE(entries.count(kInstallerEntry) && entries.count(kServiceHostEntry));
        // The module extracts into a temporary working directory far from the install tree.
        extracted = scratch / "work" / "kci";
        for (const char* name : {kInstallerEntry, kServiceHostEntry})
            writeFile(extracted / name, entries[name].content,
                      fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        environment = {{"HOME", (scratch / "home").string()},
                       {"XDG_DATA_HOME", (scratch / "data").string()},
                       {"PATH", "/usr/bin:/bin"}};
        for (const char* inherited : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* value = std::getenv(inherited))
                environment[inherited] = value;
    }

    fs::path installer() const { return extracted / kInstallerEntry; }
    fs::path storageRoot() const { return scratch / "data" / "Quillbeck" / "RodudedOzovizaz"; }
    fs::path defaultRoot() const { return storageRoot() / "ServiceHost"; }
    static fs::path launcherBelow(const fs::path& root) {
        return root / ("v" + kVersion) / "bin" / "win64" / "QuillbeckServiceHost";
    }

    RunResult install(const std::vector<std::string>& arguments) {
        return run(installer(), arguments, environment);
    }

    // The installation as the module's discovery sees it, from this test's data home.
    boost::optional<discovery::HXCInstallationInfo> discovered() {
        ScopedEnvironment home("HOME", (scratch / "home").string());
        ScopedEnvironment data("XDG_DATA_HOME", (scratch / "data").string());
        return discovery::discoverLatestHALVEXConnectorInstall(
            discovery::InstallationDiscoveryRoot::STANDARD, boost::none, boost::none);
    }

    std::vector<nlohmann::json> logLines() {
        std::vector<nlohmann::json> lines;
        std::ifstream in(storageRoot() / "installer.log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    // What an installation root holds besides the version directories: leftovers.
    static std::vector<std::string> namesIn(const fs::path& directory) {
        std::vector<std::string> names;
        if (fs::exists(directory))
            for (const auto& item : fs::directory_iterator(directory))
                names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void expectInstalledAt(const fs::path& root) {
        const fs::path launcher = launcherBelow(root);
        ASSERT_TRUE(fs::is_regular_file(launcher)) << launcher;
        EXPECT_TRUE(isExecutable(launcher));
        EXPECT_EQ(readFile(launcher), entries[kServiceHostEntry].content);
        EXPECT_THAT(namesIn(root), ::testing::ElementsAre("v" + kVersion));
        const auto info = discovered();
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->version, kVersion);
        EXPECT_EQ(fl::filesystem::to_native(info->path), root / ("v" + kVersion));
        EXPECT_EQ(fl::filesystem::to_native(info->launcher), launcher);
    }

    TempDirectory scratch;
    fs::path extracted;
    std::map<std::string, ZipEntry> entries;
    std::map<std::string, std::string> environment;
};

TEST_F(SampleInstaller, ArchiveHoldsTheManifestAndBothProgramsCompressed) {
    const auto manifest = nlohmann::json::parse(entries.at("kci.json").content);
    EXPECT_EQ(manifest.at("version"), kVersion);
    EXPECT_EQ(manifest.at("installer"), kInstallerEntry);
    EXPECT_EQ(kArchive.filename(), "kci_" + kVersion + ".zip");
    EXPECT_EQ(kArchive.parent_path().filename(), "win64");
    for (const char* name : {kInstallerEntry, kServiceHostEntry}) {
        EXPECT_THAT(entries[name].format, HasSubstr("deflation")) << name;
        EXPECT_GT(entries[name].content.size(), 1000u) << name;
    }
}

TEST_F(SampleInstaller, IsSelfContained) {
    // The dynamic loader's listing (what ldd prints) of the extracted installer.
    auto tracing = environment;
    tracing["LD_TRACE_LOADED_OBJECTS"] = "1";
    const RunResult loaded = run(installer(), {}, tracing);
    ASSERT_EQ(loaded.exitCode, 0) << loaded.output;
    EXPECT_THAT(loaded.output, HasSubstr("libc.so"));
    EXPECT_THAT(loaded.output, ::testing::Not(HasSubstr("not found")));
    EXPECT_THAT(loaded.output, ::testing::Not(HasSubstr("libqb")));
    EXPECT_THAT(loaded.output, ::testing::Not(HasSubstr("/stage/")));
}

TEST_F(SampleInstaller, LocalRunInstallsBelowTheDefaultRootWithoutStartingIt) {
    const RunResult result = install({"-source", (scratch / "sources").string(), "-mode", "silent",
                                      "-triggeredby", "TRIPWIRE_checkout"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    expectInstalledAt(defaultRoot());
    EXPECT_TRUE(fs::is_regular_file(storageRoot() / "LatestInstall.info"));
    // Starting the service host is the caller's business: no agent registered itself.
    EXPECT_THAT(namesIn(storageRoot() / "locks"), ::testing::IsEmpty());
}

TEST_F(SampleInstaller, InstallationRootWithBlanksArrivesAsOneArgument) {
    const fs::path root = scratch / "Program Files" / "Service Host";
    const RunResult result = install(
        {"-mode", "silent", "-triggeredby", "TRIPWIRE_", "-installationroot", root.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    expectInstalledAt(root);
    EXPECT_FALSE(fs::exists(defaultRoot()));
}

TEST_F(SampleInstaller, EmptyInstallationRootMeansTheDefault) {
    const RunResult result =
        install({"-mode", "silent", "-triggeredby", "TRIPWIRE_", "-installationroot", ""});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    expectInstalledAt(defaultRoot());
}

TEST_F(SampleInstaller, RerunReplacesAnEarlierInstallationOfTheSameVersion) {
    const std::vector<std::string> local = {
        "-source", (scratch / "sources").string(), "-mode", "silent", "-triggeredby", "TRIPWIRE_x"};
    // An earlier, damaged installation of this version is replaced as a whole.
    writeFile(launcherBelow(defaultRoot()), "stale", fs::perms::owner_all);
    writeFile(defaultRoot() / ("v" + kVersion) / "stale.txt", "stale", fs::perms::owner_read);
    ASSERT_EQ(install(local).exitCode, 0);
    // The rerun list is the same without its first two elements.
    const RunResult rerun = install({local.begin() + 2, local.end()});
    ASSERT_EQ(rerun.exitCode, 0) << rerun.output;
    expectInstalledAt(defaultRoot());
    EXPECT_FALSE(fs::exists(defaultRoot() / ("v" + kVersion) / "stale.txt"));
}

TEST_F(SampleInstaller, RefusedCommandLinesExitWithTwoAndInstallNothing) {
    const std::vector<std::vector<std::string>> refused = {
        {"-mode", "silent", "-triggeredby", "TRIPWIRE_\xff", "-unknown", "x"},
        {"-triggeredby", "TRIPWIRE_"},
        {"-mode", "silent", "-installationroot"},
    };
    for (const auto& arguments : refused) {
        const RunResult result = install(arguments);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(arguments);
        EXPECT_THAT(result.output, HasSubstr("usage:"));
    }
    EXPECT_FALSE(fs::exists(defaultRoot()));
    EXPECT_FALSE(discovered().has_value());
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), refused.size());
    EXPECT_EQ(lines[0]["exitCode"], 2);
    EXPECT_THAT(lines[0]["message"].get<std::string>(), HasSubstr("\"-unknown\""));
    // Bytes that are not UTF-8 are replaced, not allowed to break the line.
    EXPECT_THAT(lines[0]["arguments"][3].get<std::string>(), HasSubstr("TRIPWIRE_"));
}

TEST_F(SampleInstaller, LogsEveryRunWithTheProxyItReceivedAndThePasswordMasked) {
    auto withProxy = environment;
    withProxy["QB_PROXY_HOST"] = "127.0.0.1";
    withProxy["QB_PROXY_PORT"] = "3128";
    withProxy["QB_PROXY_USERNAME"] = "proxy user";
    withProxy["QB_PROXY_PASSWORD"] = "pa ss:w0rd";
    const std::vector<std::string> first = {"-mode", "silent", "-triggeredby", "TRIPWIRE_"};
    ASSERT_EQ(run(installer(), first, withProxy).exitCode, 0);
    ASSERT_EQ(install({"-mode", "silent"}).exitCode, 0);

    EXPECT_EQ(readFile(storageRoot() / "installer.log").find("pa ss:w0rd"), std::string::npos);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["arguments"], nlohmann::json(first));
    EXPECT_EQ(lines[0]["QB_PROXY_HOST"], "127.0.0.1");
    EXPECT_EQ(lines[0]["QB_PROXY_PORT"], "3128");
    EXPECT_EQ(lines[0]["QB_PROXY_USERNAME"], "proxy user");
    EXPECT_EQ(lines[0]["QB_PROXY_PASSWORD"], "***");
    EXPECT_EQ(lines[0]["exitCode"], 0);
    EXPECT_THAT(lines[0]["time"].get<std::string>(), ::testing::MatchesRegex("....-..-..T.*Z"));
    for (const char* name :
         {"QB_PROXY_HOST", "QB_PROXY_PORT", "QB_PROXY_USERNAME", "QB_PROXY_PASSWORD"})
        EXPECT_TRUE(lines[1][name].is_null()) << name;
}

// Payloads that are not runnable services hosts, laid beside a copy of the installer.
class BrokenPayload : public SampleInstaller,
                      public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(BrokenPayload, ExitsWith55AndKeepsThePreviousInstallation) {
    // A good installation first: a failed one must not replace what discovery reports.
    const fs::path goodRoot = scratch / "good";
    ASSERT_EQ(install({"-mode", "silent", "-installationroot", goodRoot.string()}).exitCode, 0);
    const std::string infoBefore = readFile(storageRoot() / "LatestInstall.info");

    const fs::path broken = scratch / "broken";
    writeFile(broken / "QuillbeckServiceHostInstaller", entries[kInstallerEntry].content,
              fs::perms::owner_all);
    writeFile(broken / "QuillbeckServiceHost", GetParam().second, fs::perms::owner_read);
    const fs::path brokenRoot = scratch / "broken root";
    const RunResult result = run(
        broken / "QuillbeckServiceHostInstaller",
        {"-mode", "silent", "-triggeredby", "TRIPWIRE_", "-installationroot", brokenRoot.string()},
        environment);
    EXPECT_EQ(result.exitCode, 55) << result.output;
    EXPECT_THAT(namesIn(brokenRoot), ::testing::IsEmpty());
    EXPECT_EQ(readFile(storageRoot() / "LatestInstall.info"), infoBefore);
    expectInstalledAt(goodRoot);
    EXPECT_EQ(logLines().back()["exitCode"], 55);
}

INSTANTIATE_TEST_SUITE_P(Payloads, BrokenPayload,
                         ::testing::Values(std::make_pair("Garbage", "\x7f"
                                                                     "ELF but not really"),
                                           std::make_pair("Empty", ""),
                                           std::make_pair("FailingScript", "#!/bin/sh\nexit 3\n"),
                                           std::make_pair("CrashingScript",
                                                          "#!/bin/sh\nkill -SEGV $$\n")),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(SampleInstaller, MissingPayloadIsAFailedInstallation) {
    const fs::path alone = scratch / "alone" / "QuillbeckServiceHostInstaller";
    writeFile(alone, entries[kInstallerEntry].content, fs::perms::owner_all);
    const RunResult result = run(alone, {"-mode", "silent"}, environment);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_THAT(result.output, HasSubstr("missing"));
    EXPECT_FALSE(discovered().has_value());
}

} // namespace
