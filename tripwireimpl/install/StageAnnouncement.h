#pragma once

#include "halvexconnector/tripwire/IInstallObserver.h"

namespace halvexconnector::tripwireimpl {

// Tells the host's install observer, when it registered one, that the attempt enters `stage`.
// Never throws and never changes the attempt: a missing framework, a failed lookup or an
// observer that throws are all ignored.
void announceStage(tripwire::InstallStage stage) noexcept;

} // namespace halvexconnector::tripwireimpl
