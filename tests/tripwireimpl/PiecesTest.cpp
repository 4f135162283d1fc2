// The install pipeline's pieces on their own: clean-up guards, the once flag, local sources,
// working directories, the installer's proxy, the managed-root notice, archive preparation and
// the installer run.
#include "CleanupGuard.h"
#include "OnceFlag.h"
#include "PrivatePath.h"
#include "download/DownloadLocation.h"
#include "download/WorkingDirectory.h"
#include "install/ArchivePreparation.h"
#include "install/InstallerProxy.h"
#include "install/InstallerRun.h"
#include "install/LocalSources.h"
#include "install/ManagedInstallRoot.h"

#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <tripwire/testsupport/FakeServices.h>
#include <tripwire/testsupport/ModuleHome.h>
#include <tripwire/testsupport/StandardErrorCapture.h>
#include <tripwire/testsupport/Thrown.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace halvexconnector::tripwireimpl {
namespace {

namespace fs = std::filesystem;
using foundation::httpproxy::Proxy;
using foundation::httpproxy::ProxyCredentials;
using foundation::httpproxy::ProxyList;
using foundation::httpproxy::ProxySelector;
using foundation::log::testing::RecordCapture;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;
using namespace ::tripwire::testsupport;

fl::filesystem::basic_path flPath(const fs::path& path) {
    return fl::filesystem::path_from_native(path);
}
fs::path native(const fl::filesystem::basic_path& path) {
    return fl::filesystem::to_native(path);
}
fl::ustring wide(const std::string& utf8) {
    return fl::i18n::utf8_to_ustring(utf8);
}
void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "content";
}

TEST(CleanupGuard, RunsItsActionExactlyOnceWhateverHappensToTheGuard) {
    int runs = 0;
    {
        CleanupGuard guard([&] { ++runs; });
    }
    EXPECT_EQ(runs, 1) << "destruction";
    {
        CleanupGuard guard([&] { ++runs; });
        guard.runNow();
        guard.runNow();
        EXPECT_FALSE(guard.holdsAction());
    }
    EXPECT_EQ(runs, 2) << "runNow, then nothing at destruction";
    {
        CleanupGuard replaced([&] { runs += 1000; });
        replaced = [&] {
            ++runs;
        };
    }
    EXPECT_EQ(runs, 3) << "assignment drops the old action unrun";
    {
        CleanupGuard guard([&] {
            ++runs;
            throw std::runtime_error("still busy");
        });
        EXPECT_THROW(guard.runNow(), std::runtime_error);
        EXPECT_FALSE(guard.holdsAction()) << "a failure is not retried";
    }
    EXPECT_NO_THROW({ CleanupGuard guard([&] { throw 42; }); });
    EXPECT_EQ(runs, 4);
    CleanupGuard self;
    bool heldDuringRun = true;
    self = [&] {
        heldDuringRun = self.holdsAction();
    };
    self.runNow();
    EXPECT_FALSE(heldDuringRun);
}

// A throwing action leaves the flag unset; libstdc++'s call_once hung later callers there under
// ThreadSanitizer.
TEST(OnceFlag, AThrowingActionLeavesItForALaterCallerAndConcurrentCallersRunItOnce) {
    OnceFlag flag;
    EXPECT_THROW(flag.callOnce([] { throw std::runtime_error("write failed"); }),
                 std::runtime_error);
    std::atomic<int> runs{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&] {
            for (int call = 0; call < 3; ++call) {
                flag.callOnce([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    ++runs;
                });
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(runs, 1);
}

// Each refusal names the path and the system's reason; what does not exist is no error.
TEST(PrivatePath, RefusesWhatItCannotMakeOrTrustAndSaysWhy) {
    TempDirectory dir;
    touch(dir / "file");
    fs::create_directory(dir / "open");
    fs::permissions(dir / "open", fs::perms::all);
    EXPECT_EQ(trustedCanonicalPath(dir / "missing"), std::nullopt);
    const struct {
        std::function<void()> call;
        std::string reason;
    } cases[] = {{[&] { trustedCanonicalPath(dir / "file/x"); }, "cannot resolve"},
                 {[&] { makeNewPrivateDirectory(dir / "file"); }, "File exists"},
                 {[&] { makePrivateDirectories(dir / "file/sub"); }, "Not a directory"},
                 {[&] { makePrivateDirectories(dir / "open"); }, "other users can change"},
                 {[&] { trustedCanonicalPath(dir / "open"); }, "other users may change"},
                 {[&] { runInstaller(flPath(dir / "missing"), {}); }, "is gone"}};
    for (const auto& c : cases) {
        EXPECT_THAT(whatThrown<std::runtime_error>(c.call), HasSubstr(c.reason)) << c.reason;
    }
}

TEST(ManagedInstallRoot, TheNoticeNamesTheValueOnceInUtf8AndIsRecorded) {
    const std::string utf8 = "/d/\xc3\x9c"
                             "ber/_OVERRIDEN_PATH_PLACEHOLDER_/\xf0\x9f\x93\x81";
    RecordCapture records;
    StandardErrorCapture standardError;
    for (const std::optional<std::string>& value : {std::optional<std::string>(), {""}}) {
        ScopedVariable variable(managedInstallRootVariable, value);
        EXPECT_FALSE(reportManagedInstallRootIfSet());
    }
    EXPECT_EQ(standardError.text(), "");
    reportManagedInstallRootError(wide(utf8));
    const std::string notice = standardError.text();
    EXPECT_THAT(notice, StartsWith("\n\nError in the defined "
                                   "QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT.\n" +
                                   utf8 + " does not contain a LatestInstall.info"));
    EXPECT_EQ(occurrences(notice, "_OVERRIDEN_PATH_PLACEHOLDER_"), 1u);
    EXPECT_EQ(notice.size(), 784u + utf8.size() - 28u + 1u);
    EXPECT_EQ(notice.substr(notice.size() - 5), "e\"\n\n\n");
    const auto logged = records.records("halvexconnector::tripwireimpl");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].severity, 512u);
    EXPECT_EQ(logged[0].message,
              "QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT is set incorrectly.\n" + utf8 +
                  " does not contain a LatestInstall.info file or the file is misformed ");
}

class WithHome : public testing::Test {
protected:
    ModuleHome home;
};

TEST_F(WithHome, LocalSourcesPreferKciArchivesThenTheFirstListedInstallerArchive) {
    home.set(installSourcesVariable, std::nullopt);
    EXPECT_EQ(fl::i18n::ustring_to_utf8(findLocalSource().fullPathName), staged::kciArchive())
        << "default: the tree";

    const fs::path dir = home / "dir";
    home.set(installSourcesVariable, (dir / "missing").string());
    EXPECT_FALSE(findLocalSource().found()) << "a missing directory never falls back";
    for (const char* name : {"kci_1.zip.part", "other.zip", "halvexconnector.zip", "xkci_1.zip",
                             "halvexconnector_installer.txt"}) {
        touch(dir / name);
    }
    home.set(installSourcesVariable, dir.string() + "/");
    LocalSource found = findLocalSource();
    EXPECT_EQ(native(found.sourcesDirectory), dir);
    EXPECT_FALSE(found.found());
    for (int i = 0; i < 12; ++i) {
        touch(dir / ("halvexconnector" + std::to_string(i) + "installer.zip"));
    }
    std::string firstListed;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (firstListed.empty() && name.ends_with("installer.zip")) {
            firstListed = name;
        }
    }
    EXPECT_EQ(fl::i18n::ustring_to_utf8(findLocalSource().fileName), firstListed);
    touch(dir / "kci.zip"); // not even an archive: chosen by its name alone
    found = findLocalSource();
    EXPECT_EQ(fl::i18n::ustring_to_utf8(found.fullPathName), dir / "kci.zip");
    EXPECT_EQ(findFirstMatch(fl::filesystem::basic_path(), u"kci*.zip"), nullptr);
}

std::set<fs::path> targetsOf(const WorkingDirectory& directory) {
    std::set<fs::path> targets;
    for (const auto& target : directory.removalTargets()) {
        targets.insert(native(target));
    }
    return targets;
}

TEST_F(WithHome, AGeneratedWorkingDirectoryIsNewEveryTimeAndGoesAsAWhole) {
    for (const std::optional<std::string>& variable : {std::optional<std::string>(), {""}}) {
        home.set(downloadLocationVariable, variable);
        const WorkingDirectory directory = WorkingDirectory::claim(u"kci_a");
        const fs::path location = native(directory.path());
        EXPECT_EQ(location.parent_path(), home.storageRoot());
        EXPECT_THAT(location.filename().string(), StartsWith("_tmp_QSHI_"));
        EXPECT_FALSE(fs::exists(location)) << "claiming creates nothing";
        EXPECT_NE(native(getDownloadLocation()), location);
        touch(location / "kci_a" / "kci_a.zip");
        EXPECT_EQ(targetsOf(directory), std::set<fs::path>{location});
    }
    // The storage-root override moves it, and is asked even when the variable names a place.
    RunningFramework framework;
    const auto storage = std::make_shared<FixedOverride>((home / "moved").string(), "");
    framework.offer<agent::spf::externalprocessdiscovery::UserStorageRootOverride>(storage);
    EXPECT_EQ(native(getDownloadLocation()).parent_path(), home / "moved");
    home.set(downloadLocationVariable, "work\\dl//x/");
    EXPECT_EQ(fl::filesystem::to_utf8(getDownloadLocation()), "work/dl/x");
    EXPECT_EQ(storage->firstCalls, 2);
    storage->failing = true;
    EXPECT_THROW(getDownloadLocation(), std::runtime_error);
}

// What the attempt adds to a chosen directory, and one it creates, are the flows' to show.
TEST_F(WithHome, AChosenWorkingDirectoryThatCannotBeListedLosesOnlyTheAttemptsOwnEntry) {
    const fs::path location = home / "my downloads";
    touch(location / "notes.txt");
    home.set(downloadLocationVariable, location.string());
    const WorkingDirectory vanishing = WorkingDirectory::claim(u"v2");
    fs::rename(location, home / "moved");
    EXPECT_EQ(targetsOf(vanishing), std::set<fs::path>{location / "v2"});

    // An own entry that is no plain name is never the attempt's.
    fs::create_directories(location);
    for (const fl::ustring entry : {u"sub/x", u"..", u".", u"", u"sub\\x"}) {
        const WorkingDirectory odd = WorkingDirectory::claim(entry);
        fs::create_directory(location / "new");
        EXPECT_EQ(targetsOf(odd), std::set<fs::path>{location / "new"});
        fs::remove(location / "new");
    }
}

// A path through a link loop cannot even be inspected: it holds no source, claims nothing of
// the user's, and its preparation fails when the directory is made.
TEST_F(WithHome, APathThatCannotBeInspectedHoldsNoSourceAndTakesNothingOfTheUsers) {
    fs::create_directory_symlink("loop", home / "loop");
    const fs::path looped = home / "loop/x";
    home.set(installSourcesVariable, looped.string());
    EXPECT_FALSE(findLocalSource().found());
    home.set(downloadLocationVariable, looped.string());
    EXPECT_EQ(targetsOf(WorkingDirectory::claim(u"v1")), std::set<fs::path>{looped / "v1"});
    EXPECT_ANY_THROW(prepareLocalArchive(localPreparationPaths(flPath(looped), u"kci_sample.zip"),
                                         wide(staged::kciArchive().string())));
}

TEST(InstallerProxy, TheFirstProxyForTheMakersDomainBecomesTheInstallersEntries) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    ScopedVariable makerUrl("QB_URL_QUILLBECK_DOT_COM", "https://maker.test");
    const auto configured = [](Entries before = {}) {
        foundation::core::process::context ctx;
        for (const auto& [name, value] : before) {
            ctx.environment()[name] = value;
        }
        configureInstallerProxy(ctx);
        return Entries(ctx.environment().begin(), ctx.environment().end());
    };
    EXPECT_EQ(configured(), Entries{}) << "no framework";
    RunningFramework framework;
    EXPECT_EQ(configured({{"QB_PROXY_HOST", "kept"}}), (Entries{{"QB_PROXY_HOST", "kept"}}))
        << "no selector";
    const auto selector = std::make_shared<FixedProxySelector>(ProxyList{});
    framework.offer<ProxySelector>(selector);
    const struct {
        ProxyList answer;
        Entries before, after;
    } cases[] = {
        {{Proxy::NO_PROXY, Proxy(Proxy::Type::HTTP, "later", 3128)}, {}, {}},
        {{}, {}, {}},
        {{Proxy(Proxy::Type::HTTP, "", 3128)}, {}, {}},
        {{Proxy(Proxy::Type::HTTP, "first", 80), Proxy(Proxy::Type::HTTP, "second", 8080)},
         {{"qb_proxy_host", "old"}, {"QB_PROXY_USERNAME", "earlier"}},
         {{"QB_PROXY_HOST", "first"}, {"QB_PROXY_PORT", "80"}, {"QB_PROXY_USERNAME", "earlier"}}},
        {{Proxy(Proxy::Type::HTTP, "h", 0, ProxyCredentials("", ""))},
         {{"QB_PROXY_PASSWORD", "stale"}},
         {{"QB_PROXY_HOST", "h"},
          {"QB_PROXY_PASSWORD", ""},
          {"QB_PROXY_PORT", "0"},
          {"QB_PROXY_USERNAME", ""}}}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        selector->setAnswer(cases[i].answer);
        EXPECT_EQ(configured(cases[i].before), cases[i].after) << "case " << i;
    }
    EXPECT_EQ(selector->askedUrls().front(), "https://maker.test");
}

// The flows show the copy and the extraction; here the leftover of an earlier attempt, and a
// selector that fails and so stops the run before the installer starts.
TEST_F(WithHome, ALocalArchiveReplacesALeftoverAndAFailingSelectorStopsItsRun) {
    touch(home / "work/kci_sample/stale.txt");
    const PreparedInstaller prepared =
        prepareLocalArchive(localPreparationPaths(flPath(home / "work"), u"kci_sample.zip"),
                            wide(staged::kciArchive().string()));
    EXPECT_FALSE(fs::exists(home / "work/kci_sample/stale.txt"));
    EXPECT_EQ(readFile(home / "work/kci_sample/kci_sample.zip"), readFile(staged::kciArchive()));
    RunningFramework framework;
    framework.offer<ProxySelector>(std::make_shared<FixedProxySelector>(ProxyList{}, true));
    EXPECT_THROW(runInstaller(prepared.installerPath, {"-mode", "silent"}), std::runtime_error);
    EXPECT_FALSE(fs::exists(home.storageRoot() / "installer.log"));
}

} // namespace
} // namespace halvexconnector::tripwireimpl
