// Runs the real sample installer, extracted from the staged kci archive, the way the install
// flow does: first run with the local source, then the rerun's list.
#include "install/InstallerRun.h"
#include "install/ArchivePreparation.h"
#include "install/InstallerArguments.h"

#include "support/ModuleServices.h"
#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using foundation::httpproxy::Proxy;
using foundation::httpproxy::ProxyCredentials;
using foundation::httpproxy::ProxySelector;
using halvexconnector::tripwireimpl::buildInstallerArguments;
using halvexconnector::tripwireimpl::dropSourceArguments;
using halvexconnector::tripwireimpl::InstallerArguments;
using halvexconnector::tripwireimpl::localPreparationPaths;
using halvexconnector::tripwireimpl::PreparedInstaller;
using halvexconnector::tripwireimpl::prepareLocalArchive;
using halvexconnector::tripwireimpl::runInstaller;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;

std::vector<nlohmann::json> logLines(const stdfs::path& log) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

class InstallerRun : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string staged = tripwire_test::stagedKciArchive();
        ASSERT_FALSE(staged.empty()) << "no staged kci archive";
        sources = scratch.path() / "sources";
        stdfs::create_directories(sources);
        const stdfs::path archive = sources / stdfs::path(staged).filename();
        stdfs::copy_file(staged, archive);
        const auto paths = localPreparationPaths(
            fl::filesystem::path_from_utf8((scratch.path() / "work").string()),
            fl::i18n::utf8_to_ustring(archive.filename().string()));
        prepared = prepareLocalArchive(paths, fl::i18n::utf8_to_ustring(archive.string()));
        ASSERT_FALSE(prepared.installerPath.empty());

        selector = std::make_shared<tripwire_test::FixedProxySelector>(
            foundation::httpproxy::ProxyList{Proxy(Proxy::Type::HTTP, "proxy.test", 3128,
                                                   ProxyCredentials("installer user", "s3cret"))});
        framework.registerService<ProxySelector>(selector);
    }

    stdfs::path installerLog() const {
        return scratch.path() / "data/Quillbeck/RodudedOzovizaz/installer.log";
    }

    TempDirectory scratch;
    ScopedEnvironment dataHome{"XDG_DATA_HOME", (scratch.path() / "data").string()};
    // None of the proxy entries may come from this process's own environment.
    ScopedEnvironment host{"QB_PROXY_HOST", std::nullopt};
    ScopedEnvironment port{"QB_PROXY_PORT", std::nullopt};
    ScopedEnvironment user{"QB_PROXY_USERNAME", std::nullopt};
    ScopedEnvironment password{"QB_PROXY_PASSWORD", std::nullopt};
    tripwire_test::RunningFramework framework;
    std::shared_ptr<tripwire_test::FixedProxySelector> selector;
    stdfs::path sources;
    PreparedInstaller prepared;
};

TEST_F(InstallerRun, TheSampleInstallerInstallsWithTheProxyAndTheRerunListWithoutTheSource) {
    const stdfs::path root = scratch.path() / "Install Root";
    InstallerArguments arguments =
        buildInstallerArguments(true, fl::filesystem::path_from_utf8(sources.string()), "tests",
                                fl::filesystem::path_from_utf8(root.string()));

    EXPECT_EQ(runInstaller(prepared.installerPath, arguments), 0u);
    EXPECT_TRUE(stdfs::is_directory(root / ("v" + prepared.version))) << root;

    dropSourceArguments(arguments);
    selector->setAnswer({Proxy::NO_PROXY});
    EXPECT_EQ(runInstaller(prepared.installerPath, arguments), 0u);

    const auto lines = logLines(installerLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["arguments"],
              nlohmann::json({"-source", sources.string(), "-mode", "silent", "-triggeredby",
                              "TRIPWIRE_tests", "-installationroot", root.string()}));
    EXPECT_EQ(lines[0]["QB_PROXY_HOST"], "proxy.test");
    EXPECT_EQ(lines[0]["QB_PROXY_PORT"], "3128");
    EXPECT_EQ(lines[0]["QB_PROXY_USERNAME"], "installer user");
    EXPECT_EQ(lines[0]["QB_PROXY_PASSWORD"], "***");

    EXPECT_EQ(lines[1]["arguments"],
              nlohmann::json({"-mode", "silent", "-triggeredby", "TRIPWIRE_tests",
                              "-installationroot", root.string()}));
    EXPECT_TRUE(lines[1]["QB_PROXY_HOST"].is_null());
    EXPECT_TRUE(lines[1]["QB_PROXY_PASSWORD"].is_null());
}

TEST_F(InstallerRun, TheInstallersExitCodeIsReturnedAsItIs) {
    EXPECT_EQ(runInstaller(prepared.installerPath, {"-mode", "silent", "-bogus"}), 2u);
}

class ThrowingSelector : public ProxySelector {
public:
    foundation::httpproxy::ProxyList select(const std::string&) override {
        throw std::runtime_error("selector broke");
    }
};

TEST_F(InstallerRun, AProxyFailureStopsTheRunBeforeTheInstallerStarts) {
    tripwire_test::RunningFramework broken;
    broken.registerService<ProxySelector>(std::make_shared<ThrowingSelector>());
    EXPECT_THROW(runInstaller(prepared.installerPath, {"-mode", "silent"}), std::runtime_error);
    EXPECT_FALSE(stdfs::exists(installerLog()));
}

} // namespace
