#ifndef CPPMICROSERVICES_FRAMEWORKEVENT_H
#define CPPMICROSERVICES_FRAMEWORKEVENT_H

#include "cppmicroservices/FrameworkExport.h"

#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

namespace cppmicroservices {

class Bundle;
class FrameworkEventData;

/// A framework-wide notice: errors and warnings (with the exception that caused
/// them), start and stop.
class US_Framework_EXPORT FrameworkEvent {
    std::shared_ptr<FrameworkEventData> d;

public:
    enum Type : uint32_t {
        FRAMEWORK_STARTED = 0x00000001,
        FRAMEWORK_ERROR = 0x00000002,
        FRAMEWORK_WARNING = 0x00000010,
        FRAMEWORK_INFO = 0x00000020,
        FRAMEWORK_STOPPED = 0x00000040,
        FRAMEWORK_STOPPED_UPDATE = 0x00000080,
        FRAMEWORK_WAIT_TIMEDOUT = 0x00000200
    };

    FrameworkEvent();
    explicit operator bool() const;
    FrameworkEvent(Type type, Bundle const& bundle, std::string const& message,
                   std::exception_ptr const exception = nullptr);

    Bundle GetBundle() const;
    std::string GetMessage() const;
    std::exception_ptr GetThrowable() const;
    Type GetType() const;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, FrameworkEvent::Type eventType);
US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, FrameworkEvent const& evt);
US_Framework_EXPORT bool operator==(FrameworkEvent const& rhs, FrameworkEvent const& lhs);

} // namespace cppmicroservices

#endif
