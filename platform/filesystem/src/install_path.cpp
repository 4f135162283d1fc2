#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/environment.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>

#include "native.h"

namespace fl::filesystem {
namespace {

// Any address inside this library identifies the file it was loaded from.
const char anchor = 0;

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string library_file() {
    Dl_info info{};
    if (::dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        detail::throw_system_error("get_install_path", "libqbfoundation_filesystem", ENOENT);
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(info.dli_fname, nullptr),
                                                         &std::free);
    if (!resolved) {
        detail::throw_system_error("get_install_path", info.dli_fname, errno);
    }
    return resolved.get();
}

} // namespace

basic_path get_install_path() {
    const ustring configured = i18n::getenv("QB_INSTALL_ROOT");
    if (!configured.empty()) {
        return basic_path(configured, true);
    }
    // <root>/lib/libqbfoundation_filesystem.so -> <root>
    const std::string root = directory_of(directory_of(library_file()));
    return path_from_native(std::filesystem::path(root), true);
}

} // namespace fl::filesystem
