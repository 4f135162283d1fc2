// Input: an archive file. A refusal leaves no files; nothing lands outside the extraction.
#include "FuzzSupport.h"

#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <fl/filesystem/path_conversion.h>

#include <fstream>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace kci = halvexconnector::latestversion::kciextractor;
    using tripwire_fuzz::violation;
    // <scratch>/work/fuzz.zip; nothing else may remain below <scratch> after a run.
    const fs::path root = tripwire_fuzz::scratchDirectory(), archive = root / "work/fuzz.zip";
    const fs::path extracted = root / "work/fuzz.extracted";
    fs::create_directories(archive.parent_path());
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    kci::ExtractionLimits limits;
    limits.maxTotalBytes = 64u << 20; // keeps single runs fast; the checks are the same
    try {
        const auto [installer, version] =
            kci::extractKCIAndReturnVersion(fl::filesystem::path_from_native(archive), limits);
        if (!installer.empty()) {
            const fs::path native = fl::filesystem::to_native(installer);
            if (!native.string().starts_with(extracted.string() + "/") || version.empty() ||
                !fs::is_regular_file(fs::symlink_status(native)))
                violation("success with an installer that is not a file of the extraction");
            if (::access(native.c_str(), X_OK) != 0)
                violation("installer without execute permission");
            fs::remove_all(extracted);
        }
    } catch (const kci::KCIExtractionError&) {
    } catch (const std::system_error&) {
    }
    if (std::distance(fs::recursive_directory_iterator(root), fs::recursive_directory_iterator()) !=
        2)
        violation("files left behind or written outside the extraction directory");
    return 0;
}
