#pragma once

#include "HALVEXConnectorTripwireImpl.h"

namespace halvexconnector::tripwireimpl {

// The service object's removal of working directories, for the unit tests.
class HALVEXConnectorTripwireImplTestAccess {
public:
    static void tryToRemoveOrQueueForShutdown(HALVEXConnectorTripwireImpl& object,
                                              const fl::filesystem::basic_path& directory) {
        object.tryToRemoveOrQueueForShutdown(directory);
    }
};

} // namespace halvexconnector::tripwireimpl
