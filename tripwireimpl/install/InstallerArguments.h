#pragma once

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

#include <string>
#include <vector>

namespace halvexconnector::tripwireimpl {

using InstallerArguments = std::vector<std::string>;

// The silent installer's arguments, one element each (never quoted or split):
//   ["-source" <sourcesDirectory>] "-mode" "silent" "-triggeredby" "TRIPWIRE_"<triggeredBy>
//   ["-installationroot" <installationRoot>]
// "-source" only for an installer from a local archive; "-installationroot" whenever a root is
// given, even an empty one. Paths are passed as UTF-8 (a path that is not valid UTF-8 throws).
InstallerArguments
buildInstallerArguments(bool localSourceUsed, const fl::filesystem::basic_path& sourcesDirectory,
                        const std::string& triggeredBy,
                        const boost::optional<fl::filesystem::basic_path>& installationRoot);

// The rerun's list: the first run's without "-source" and its directory, the rest in order. A
// list that does not begin with "-source" is left as it is, so nothing else is ever dropped.
void dropSourceArguments(InstallerArguments& arguments);

} // namespace halvexconnector::tripwireimpl
