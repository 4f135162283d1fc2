// Input: a bundle library file. Only a manifest naming a bundle or a documented error may come.
#include "BundleArchive.h"
#include "FuzzSupport.h"

#include <fstream>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto library = tripwire_fuzz::scratchDirectory() / "libbundle.so";
    std::ofstream(library, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        const nlohmann::json manifest = cppmicroservices::ReadBundleManifest(library.string());
        const auto name = manifest.find("bundle.symbolic_name");
        if (!manifest.is_object() || name == manifest.end() || !name->is_string() ||
            name->get<std::string>().empty())
            tripwire_fuzz::violation("a manifest without a bundle name");
    } catch (const std::runtime_error&) {
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
