#include "install/InstallerRun.h"

#include "PrivatePath.h"
#include "install/InstallerProxy.h"

#include <foundation/core/process/command.h>
#include <foundation/core/process/context.h>
#include <foundation/core/process/process.h>

#include <fl/i18n/conversion.h>

#include <stdexcept>

namespace halvexconnector::tripwireimpl {

std::uint32_t runInstaller(const fl::filesystem::basic_path& installerPath,
                           const InstallerArguments& arguments) {
    namespace fcp = foundation::core::process;
    // The installer is started by a name that only root and this user can re-point: every
    // directory on its canonical path is theirs and shut to others (or sticky), so the file
    // that was verified and extracted is the one that runs.
    const std::optional<std::string> trusted =
        trustedCanonicalPath(fl::i18n::ustring_to_utf8(installerPath.string()));
    if (!trusted) {
        throw std::runtime_error("the installer " +
                                 fl::i18n::ustring_to_utf8(installerPath.string()) + " is gone");
    }
    // Declared in this order so that the process goes first, then the context, then the command.
    const fcp::command command(*trusted, arguments);
    fcp::context context;
    configureInstallerProxy(context);
    fcp::process installer(command, context);
    return installer.exit_status();
}

} // namespace halvexconnector::tripwireimpl
