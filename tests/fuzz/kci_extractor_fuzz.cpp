// Feeds arbitrary bytes to the kci extractor as an archive file. Besides crashes and leaks it
// reports, as a crash, any run that leaves files behind after a refusal, or anything outside the
// extraction directory.
#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <fl/filesystem/path_conversion.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace kci = halvexconnector::latestversion::kciextractor;

// <scratch>/work/fuzz.zip: the archive; nothing else may ever appear below <scratch>, except the
// extraction directory after a success.
struct Scratch {
    fs::path root;
    fs::path work;
    fs::path archive;
    fs::path extracted;

    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "kci-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        work = root / "work";
        archive = work / "fuzz.zip";
        extracted = work / "fuzz.extracted";
        fs::create_directory(work);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Scratch& scratch() {
    static Scratch instance;
    return instance;
}

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "kci extractor fuzz: %s\n", what);
    std::abort();
}

void checkOnlyTheArchiveRemains(const Scratch& s) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(s.root)) {
        (void)entry;
        ++count;
    }
    if (count != 2) { // "work" and "work/fuzz.zip"
        violation("files left behind or written outside the extraction directory");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scratch& s = scratch();
    {
        std::ofstream out(s.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    kci::ExtractionLimits limits;
    limits.maxTotalBytes = 64u << 20; // keeps single runs fast; the checks are the same
    try {
        const auto [installer, version] =
            kci::extractKCIAndReturnVersion(fl::filesystem::path_from_native(s.archive), limits);
        if (!installer.empty()) {
            const fs::path native = fl::filesystem::to_native(installer);
            if (native.string().rfind(s.extracted.string() + "/", 0) != 0 ||
                !fs::is_regular_file(fs::symlink_status(native)) || version.empty()) {
                violation("success with an installer that is not a file of the extraction");
            }
            if (::access(native.c_str(), X_OK) != 0) {
                violation("installer without execute permission");
            }
            fs::remove_all(s.extracted);
        }
    } catch (const kci::KCIExtractionError&) {
    } catch (const std::system_error&) {
    }
    checkOnlyTheArchiveRemains(s);
    return 0;
}
