// The built bundle file as the framework sees it: exported entry points, the component instance
// they create, and the manifest archive appended to the library.
#include "StagedBundle.h"

#include <cppmicroservices/ServiceInterface.h>
#include <cppmicroservices/servicecomponent/detail/ComponentInstance.hpp>

#include <archive.h>
#include <archive_entry.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using cppmicroservices::service::component::detail::ComponentInstance;

const std::string symbolicName = "com_quillbeck_tripwireimpl";
const std::string newInstanceName =
    "NewInstance_halvexconnector_tripwireimpl_HALVEXConnectorTripwireImpl";
const std::string deleteInstanceName =
    "DeleteInstance_halvexconnector_tripwireimpl_HALVEXConnectorTripwireImpl";
const std::string setContextName = "_us_set_bundle_context_instance_com_quillbeck_tripwireimpl";

std::vector<unsigned char> readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t(b.at(at + 3)) << 24;
}
std::uint16_t le16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

struct CentralEntry {
    std::string name;
    std::uint16_t method;
};

// Entry names in central-directory order, found from the end-of-directory record at the tail.
std::vector<CentralEntry> centralDirectory(const std::vector<unsigned char>& bytes) {
    if (bytes.size() < 22) {
        throw std::runtime_error("file too short for a zip archive");
    }
    std::size_t eocd = bytes.size() - 22;
    while (le32(bytes, eocd) != 0x06054b50) {
        if (eocd == 0 || bytes.size() - eocd > 22 + 0xFFFF) {
            throw std::runtime_error("no end-of-central-directory record at the end");
        }
        --eocd;
    }
    std::uint16_t count = le16(bytes, eocd + 10);
    std::uint32_t size = le32(bytes, eocd + 12);
    std::size_t at = eocd - size;
    std::vector<CentralEntry> entries;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (le32(bytes, at) != 0x02014b50) {
            throw std::runtime_error("bad central directory entry");
        }
        std::uint16_t nameLength = le16(bytes, at + 28);
        std::uint16_t extraLength = le16(bytes, at + 30);
        std::uint16_t commentLength = le16(bytes, at + 32);
        entries.push_back(
            {std::string(bytes.begin() + at + 46, bytes.begin() + at + 46 + nameLength),
             le16(bytes, at + 10)});
        at += 46 + nameLength + extraLength + commentLength;
    }
    return entries;
}

std::string readManifestEntry(const std::string& file) {
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                  &archive_read_free);
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), file.c_str(), 16384) != ARCHIVE_OK) {
        throw std::runtime_error(archive_error_string(reader.get()));
    }
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        if (archive_entry_pathname(entry) != symbolicName + "/manifest.json") {
            continue;
        }
        std::string text;
        char buffer[4096];
        la_ssize_t n = 0;
        while ((n = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    throw std::runtime_error("no manifest entry");
}

TEST(BundleFile, TheAppendedArchiveListsTheManifestThenTheDirectory) {
    auto entries = centralDirectory(readFile(tripwire_test::stagedBundlePath()));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, symbolicName + "/manifest.json");
    EXPECT_EQ(entries[0].method, 8) << "the manifest is deflate-compressed";
    EXPECT_EQ(entries[1].name, symbolicName + "/");
}

TEST(BundleFile, TheManifestDeclaresTheBundleAndItsOneComponent) {
    auto manifest = nlohmann::json::parse(readManifestEntry(tripwire_test::stagedBundlePath()));
    EXPECT_EQ(manifest.at("bundle.activator"), false);
    EXPECT_EQ(manifest.at("bundle.symbolic_name"), symbolicName);
    EXPECT_EQ(manifest.at("bundle.vendor"), "Quillbeck");
    const auto& qb = manifest.at("qb");
    EXPECT_EQ(qb.at("clientdir"), "halvexconnector/tripwireimpl");
    EXPECT_EQ(qb.at("component"), (nlohmann::json{{"attributes", "released"},
                                                  {"name", "halvexconnector/tripwireimpl"},
                                                  {"type", "software"}}));
    EXPECT_EQ(
        qb.at("installpath"),
        "bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl/qbtripwireimpl.dll");
    EXPECT_EQ(qb.at("module"), (nlohmann::json{{"name", "tripwireimpl"}}));

    const auto& scr = manifest.at("scr");
    EXPECT_EQ(scr.at("version"), 1);
    ASSERT_EQ(scr.at("components").size(), 1u);
    const auto& component = scr.at("components").at(0);
    EXPECT_EQ(component.at("implementation-class"),
              "halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl");
    EXPECT_EQ(component.at("service").at("interfaces"),
              nlohmann::json::array({"halvexconnector::tripwire::ITripwire"}));
    EXPECT_EQ(component.at("service").at("scope"), "singleton");
    EXPECT_EQ(component.size(), 2u) << "no references, properties or immediate activation";
}

TEST(BundleFile, ExportsOnlyTheThreeEntryPoints) {
    std::string command = "nm -D --defined-only '" + tripwire_test::stagedBundlePath() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> exported;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        auto name = text.substr(text.find_last_of(' ') + 1);
        name.erase(name.find_last_not_of("\r\n") + 1);
        exported.insert(name);
    }
    ASSERT_FALSE(exported.empty()) << "nm produced nothing for " << command;

    EXPECT_EQ(exported,
              (std::set<std::string>{deleteInstanceName, newInstanceName, setContextName}));
}

class LoadedBundle : public ::testing::Test {
protected:
    void SetUp() override {
        handle = ::dlopen(tripwire_test::stagedBundlePath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << ::dlerror();
        newInstance =
            reinterpret_cast<ComponentInstance* (*)()>(::dlsym(handle, newInstanceName.c_str()));
        deleteInstance = reinterpret_cast<void (*)(ComponentInstance*)>(
            ::dlsym(handle, deleteInstanceName.c_str()));
        setContext = reinterpret_cast<void (*)(void*)>(::dlsym(handle, setContextName.c_str()));
        ASSERT_TRUE(newInstance && deleteInstance && setContext);
    }
    void TearDown() override {
        if (handle) {
            ::dlclose(handle);
        }
    }

    void* handle = nullptr;
    ComponentInstance* (*newInstance)() = nullptr;
    void (*deleteInstance)(ComponentInstance*) = nullptr;
    void (*setContext)(void*) = nullptr;
};

TEST_F(LoadedBundle, TheDisposerIgnoresNullAndTheSetterTakesAnyPointer) {
    EXPECT_NO_FATAL_FAILURE(deleteInstance(nullptr));
    int token = 0;
    setContext(&token);
    setContext(nullptr);
}

TEST_F(LoadedBundle, AnInstancePublishesExactlyTheServiceInterface) {
    ComponentInstance* instance = newInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_FALSE(instance->DoesModifiedMethodExist());

    // Nothing exists before the runtime's create step.
    instance->CreateInstance(nullptr);
    instance->BindReferences(nullptr);
    instance->Activate();

    auto map = instance->GetInterfaceMap();
    ASSERT_TRUE(map);
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ(map->begin()->first, "halvexconnector::tripwire::ITripwire");
    EXPECT_TRUE(map->begin()->second);
    EXPECT_EQ(map->count("org.cppmicroservices.factory"), 0u);

    // A second map hands out the same object: one service object per instance.
    EXPECT_EQ(instance->GetInterfaceMap()->begin()->second, map->begin()->second);

    std::weak_ptr<void> object = map->begin()->second;
    map.reset();
    instance->Deactivate();
    instance->UnbindReferences();
    deleteInstance(instance);
    EXPECT_TRUE(object.expired()) << "disposing of the instance releases the service object";
}

} // namespace
