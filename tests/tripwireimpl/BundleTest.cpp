// The built bundle file as the framework sees it: the manifest archive appended to the library and
// the exported entry points only, and the bundle in a framework (the flows exercise the rest).
#include "halvexconnector/tripwire/ITripwire.h"

#include <tripwire/testsupport/ModuleHome.h>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>

namespace {

using namespace tripwire::testsupport;

const std::string symbolicName = "com_quillbeck_tripwireimpl";
const std::string implementation = "halvexconnector_tripwireimpl_HALVEXConnectorTripwireImpl";

// The names of the zip archive's entries at the end of the library, in archive order.
std::vector<std::string> appendedArchive() {
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                  &archive_read_free);
    archive_read_support_format_zip_seekable(reader.get());
    EXPECT_EQ(archive_read_open_filename(reader.get(), staged::module().c_str(), 16384),
              ARCHIVE_OK);
    std::vector<std::string> names;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK)
        names.emplace_back(archive_entry_pathname(entry));
    return names;
}

TEST(BundleFile, CarriesItsManifestWithTheOneComponentAndExportsOnlyTheThreeEntryPoints) {
    EXPECT_EQ(appendedArchive(),
              (std::vector<std::string>{symbolicName + "/manifest.json", symbolicName + "/"}));

    const std::string command = "nm -D --defined-only '" + staged::module().string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    std::set<std::string> exported;
    for (char line[4096]; std::fgets(line, sizeof line, pipe.get()) != nullptr;) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        exported.insert(text.substr(text.find_last_of(' ') + 1));
    }
    EXPECT_EQ(exported, (std::set<std::string>{"NewInstance_" + implementation,
                                               "DeleteInstance_" + implementation,
                                               "_us_set_bundle_context_instance_" + symbolicName}));
}

bool bundleLibraryMapped() {
    return readFile("/proc/self/maps").find("qbtripwireimpl.so") != std::string::npos;
}

TEST(BundleInFramework, RegistersItsServiceAtOnceAndLoadsItsLibraryAtTheFirstRequest) {
    RunningFramework framework(RunningFramework::withModule());
    EXPECT_EQ(framework.bundleNames().back(), symbolicName);
    ASSERT_TRUE(framework.context().GetServiceReference<halvexconnector::tripwire::ITripwire>());
    EXPECT_FALSE(bundleLibraryMapped());
    const auto first = framework.service<halvexconnector::tripwire::ITripwire>();
    EXPECT_EQ(first, framework.service<halvexconnector::tripwire::ITripwire>());
    EXPECT_TRUE(bundleLibraryMapped());
    EXPECT_FALSE(first->areHALVEXServicesRunning(
        static_cast<halvexconnector::tripwire::HALVEXServicesMode>(2)));
}

} // namespace
