// Feeds arbitrary bytes, as a bundle library file, to the reader of the manifest in the zip
// archive appended to it. It may only answer with a manifest or with the documented errors; an
// accepted manifest names a bundle.
#include "BundleArchive.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "bundle manifest fuzz: %s\n", what);
    std::abort();
}

struct Scratch {
    fs::path root;
    std::string library;

    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "manifest-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        library = (root / "libbundle.so").string();
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

const std::string& libraryFile() {
    static Scratch scratch;
    return scratch.library;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = libraryFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const nlohmann::json manifest = cppmicroservices::ReadBundleManifest(path);
        const auto name = manifest.find("bundle.symbolic_name");
        if (!manifest.is_object() || name == manifest.end() || !name->is_string() ||
            name->get<std::string>().empty()) {
            violation("a manifest without a bundle name");
        }
    } catch (const std::invalid_argument&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
