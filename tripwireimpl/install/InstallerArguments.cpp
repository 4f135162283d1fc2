#include "install/InstallerArguments.h"

#include <fl/i18n/conversion.h>

namespace halvexconnector::tripwireimpl {

namespace {
const std::string sourceOption = "-source";
} // namespace

InstallerArguments
buildInstallerArguments(bool localSourceUsed, const fl::filesystem::basic_path& sourcesDirectory,
                        const std::string& triggeredBy,
                        const boost::optional<fl::filesystem::basic_path>& installationRoot) {
    InstallerArguments arguments;
    if (localSourceUsed) {
        arguments.push_back(sourceOption);
        arguments.push_back(fl::i18n::ustring_to_utf8(sourcesDirectory.string()));
    }
    arguments.push_back("-mode");
    arguments.push_back("silent");
    arguments.push_back("-triggeredby");
    arguments.push_back("TRIPWIRE_" + triggeredBy);
    if (installationRoot) {
        arguments.push_back("-installationroot");
        arguments.push_back(fl::i18n::ustring_to_utf8(installationRoot->string()));
    }
    return arguments;
}

void dropSourceArguments(InstallerArguments& arguments) {
    if (arguments.size() < 2 || arguments.front() != sourceOption) {
        return;
    }
    arguments.erase(arguments.begin(), arguments.begin() + 2);
}

} // namespace halvexconnector::tripwireimpl
