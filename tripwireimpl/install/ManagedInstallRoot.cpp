#include "install/ManagedInstallRoot.h"

#include "Logging.h"

#include <fl/i18n/conversion.h>
#include <fl/i18n/environment.h>

#include <iostream>
#include <string_view>

namespace halvexconnector::tripwireimpl {

const char* const managedInstallRootVariable = "QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT";

OnceFlag managedInstallRootNoticeOnce;

namespace {

constexpr std::string_view placeholder = "_OVERRIDEN_PATH_PLACEHOLDER_";

// What the directory must hold. Ends without a line feed: the example starts with it.
constexpr std::string_view guidanceBlock =
    "\n"
    "\n"
    "Error in the defined QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT.\n"
    "_OVERRIDEN_PATH_PLACEHOLDER_ does not contain a LatestInstall.info file or it is missing the "
    "required fields.\n"
    "Make sure that the file exists and that it contains the following fields:\n"
    "- LatestDSInstallerVersion: The version of service host\n"
    "- LatestDSInstallRoot: The path to the installation directory\n"
    "- DSLauncherExecutable: The path to the executable of QuillbeckServiceHost";

constexpr std::string_view exampleBlock =
    "\n"
    "Note that double backslash character should be used as separator for Windows paths\n"
    "An example file is:\n"
    "  LatestDSInstallerVersion 2024.7.0.6\n"
    "  LatestDSInstallRoot \"C:\\\\Program Files\\\\Quillbeck\\\\ServiceHost\\\\v2024.7.0.6\"\n"
    "  DSLauncherExecutable "
    "\"C:\\\\Program "
    "Files\\\\Quillbeck\\\\ServiceHost\\\\v2024.7.0.6\\\\bin\\\\win64\\\\QuillbeckServiceHost."
    "exe\"\n"
    "\n";

static_assert(guidanceBlock.size() == 444);
static_assert(exampleBlock.size() == 340);

} // namespace

std::string managedInstallRootNotice(const std::string& utf8Value) {
    std::string notice;
    notice.reserve(guidanceBlock.size() + exampleBlock.size() + utf8Value.size());
    notice.append(guidanceBlock).append(exampleBlock);
    const std::string::size_type at = notice.find(placeholder);
    if (at != std::string::npos) {
        notice.replace(at, placeholder.size(), utf8Value);
    }
    return notice;
}

void reportManagedInstallRootError(const fl::ustring& overrideValue) {
    const std::string value = fl::i18n::ustring_to_utf8(overrideValue);
    std::cerr << managedInstallRootNotice(value) << std::endl;
    writeLogRecord(severityNotice,
                   "QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT is set incorrectly.\n", value,
                   " does not contain a LatestInstall.info file or the file is misformed ");
}

bool reportManagedInstallRootIfSet() {
    const fl::ustring value = fl::i18n::getenv(managedInstallRootVariable);
    if (value.empty()) {
        return false;
    }
    managedInstallRootNoticeOnce.callOnce([&value] { reportManagedInstallRootError(value); });
    return true;
}

} // namespace halvexconnector::tripwireimpl
