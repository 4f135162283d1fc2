#include "foundation/cppmicroservices/FrameworkAccess.h"

#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>

#include <cppmicroservices/BundleContext.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

namespace foundation::cppmicroservices {
namespace {

namespace fs = std::filesystem;

std::mutex& frameworkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<::cppmicroservices::Framework>& runningFramework() {
    static std::shared_ptr<::cppmicroservices::Framework> framework;
    return framework;
}

// Installs are serialised so that two callers asking for the same folder at once do not race
// each other inside the framework's bookkeeping.
std::mutex& installMutex() {
    static std::mutex mutex;
    return mutex;
}

fs::path resolveLocation(const fl::filesystem::basic_path& path) {
    const fs::path native = fl::filesystem::to_native(path);
    if (native.is_absolute())
        return native;
    return fl::filesystem::to_native(fl::filesystem::get_install_path()) / native;
}

bool isBundleLibrary(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.path().extension() == ".so" && entry.is_regular_file(error);
}

std::vector<fs::path> bundleLibraries(const fs::path& location) {
    std::error_code error;
    if (fs::is_regular_file(location, error))
        return {location};
    std::vector<fs::path> libraries;
    fs::directory_iterator entries(location, error);
    if (error)
        return libraries;
    for (const fs::directory_iterator end; entries != end;) {
        if (isBundleLibrary(*entries))
            libraries.push_back(entries->path());
        entries.increment(error);
        if (error)
            break;
    }
    std::sort(libraries.begin(), libraries.end());
    return libraries;
}

} // namespace

std::shared_ptr<::cppmicroservices::Framework> getFramework() {
    std::lock_guard lock(frameworkMutex());
    return runningFramework();
}

std::shared_ptr<::cppmicroservices::Framework>
setFramework(std::shared_ptr<::cppmicroservices::Framework> framework) {
    std::lock_guard lock(frameworkMutex());
    std::swap(runningFramework(), framework);
    return framework;
}

void clearFramework() {
    setFramework(nullptr);
}

std::vector<::cppmicroservices::Bundle> installAndStart(fl::filesystem::basic_path path) {
    std::vector<::cppmicroservices::Bundle> bundles;
    const auto framework = getFramework();
    if (!framework)
        return bundles;
    const auto libraries = bundleLibraries(resolveLocation(path));
    if (libraries.empty())
        return bundles;

    std::lock_guard lock(installMutex());
    auto context = framework->GetBundleContext();
    for (const auto& library : libraries) {
        for (auto& bundle : context.InstallBundles(library.string()))
            bundles.push_back(std::move(bundle));
    }
    for (auto& bundle : bundles)
        bundle.Start();
    return bundles;
}

} // namespace foundation::cppmicroservices
