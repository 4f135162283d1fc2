#ifndef TESTS_FRAMEWORK_CORE_TESTSUPPORT_H
#define TESTS_FRAMEWORK_CORE_TESTSUPPORT_H

#include "cppmicroservices/Framework.h"
#include "cppmicroservices/FrameworkFactory.h"
#include "tripwire/testsupport/TempDirectory.h"

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fwtest {

/// Writes `prefix` followed by a zip archive holding `entries` (name, content;
/// a name ending in '/' is a directory entry) to `file`.
void WriteFileWithZip(std::filesystem::path const& file, std::string const& prefix,
                      std::vector<std::pair<std::string, std::string>> const& entries);

/// A started framework that logs into `log` and is stopped when the fixture ends.
class RunningFramework {
public:
    RunningFramework();
    ~RunningFramework();
    RunningFramework(RunningFramework const&) = delete;
    RunningFramework& operator=(RunningFramework const&) = delete;

    cppmicroservices::Framework framework;
    std::ostringstream log;
};

} // namespace fwtest

#endif
