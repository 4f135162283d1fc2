#include "install/InstallerArguments.h"

#include <fl/filesystem/path_conversion.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using halvexconnector::tripwireimpl::buildInstallerArguments;
using halvexconnector::tripwireimpl::dropSourceArguments;
using halvexconnector::tripwireimpl::InstallerArguments;
using Root = boost::optional<fl::filesystem::basic_path>;

const fl::filesystem::basic_path sources =
    fl::filesystem::path_from_utf8("/opt/app/sys/qbds/win64");

TEST(InstallerArguments, ALocalRunWithoutRootAndItsRerun) {
    InstallerArguments arguments = buildInstallerArguments(true, sources, "startup", Root());
    EXPECT_EQ(arguments, (InstallerArguments{"-source", "/opt/app/sys/qbds/win64", "-mode",
                                             "silent", "-triggeredby", "TRIPWIRE_startup"}));
    dropSourceArguments(arguments);
    EXPECT_EQ(arguments,
              (InstallerArguments{"-mode", "silent", "-triggeredby", "TRIPWIRE_startup"}));
}

TEST(InstallerArguments, ARootWithBlanksAndNonAsciiIsOneElement) {
    const Root root = fl::filesystem::path_from_utf8("/home/j\xc3\xb6rg/My Services/Host");
    InstallerArguments arguments = buildInstallerArguments(true, sources, "menu item", root);
    EXPECT_EQ(arguments,
              (InstallerArguments{"-source", "/opt/app/sys/qbds/win64", "-mode", "silent",
                                  "-triggeredby", "TRIPWIRE_menu item", "-installationroot",
                                  "/home/j\xc3\xb6rg/My Services/Host"}));
    dropSourceArguments(arguments);
    EXPECT_EQ(arguments.front(), "-mode");
    EXPECT_EQ(arguments.back(), "/home/j\xc3\xb6rg/My Services/Host");
}

TEST(InstallerArguments, ADownloadedInstallerNeverGetsTheSource) {
    EXPECT_EQ(buildInstallerArguments(false, sources, "x", Root()),
              (InstallerArguments{"-mode", "silent", "-triggeredby", "TRIPWIRE_x"}));
}

TEST(InstallerArguments, AnEmptyTriggerAndAnEmptyRootStillGiveTheirElements) {
    EXPECT_EQ(buildInstallerArguments(false, sources, "", Root(fl::filesystem::basic_path())),
              (InstallerArguments{"-mode", "silent", "-triggeredby", "TRIPWIRE_",
                                  "-installationroot", ""}));
}

TEST(InstallerArguments, TheRerunNeverDropsAnythingButTheSource) {
    InstallerArguments download = buildInstallerArguments(false, sources, "x", Root());
    const InstallerArguments before = download;
    dropSourceArguments(download);
    EXPECT_EQ(download, before);

    InstallerArguments empty;
    dropSourceArguments(empty);
    EXPECT_TRUE(empty.empty());
}

} // namespace
