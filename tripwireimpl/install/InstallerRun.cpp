#include "install/InstallerRun.h"

#include "download/InstallerProxy.h"

#include <foundation/core/process/command.h>
#include <foundation/core/process/context.h>
#include <foundation/core/process/process.h>

#include <fl/i18n/conversion.h>

namespace halvexconnector::tripwireimpl {

std::uint32_t runInstaller(const fl::filesystem::basic_path& installerPath,
                           const InstallerArguments& arguments) {
    namespace fcp = foundation::core::process;
    // Declared in this order so that the process goes first, then the context, then the command.
    const fcp::command command(fl::i18n::ustring_to_utf8(installerPath.string()), arguments);
    fcp::context context;
    configureInstallerProxy(context);
    fcp::process installer(command, context);
    return installer.exit_status();
}

} // namespace halvexconnector::tripwireimpl
