#pragma once

// The names under which the folder, agent, discovery and installer tests use the shared helpers.
#include <tripwire/testsupport/TempDirectory.h>

namespace qbtest {

using tripwire::testsupport::TempDirectory;
using ScopedEnvironment = tripwire::testsupport::ScopedVariable;

} // namespace qbtest
