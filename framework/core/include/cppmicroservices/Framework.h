#ifndef CPPMICROSERVICES_FRAMEWORK_H
#define CPPMICROSERVICES_FRAMEWORK_H

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/FrameworkConfig.h"

#include <chrono>

namespace cppmicroservices {

class FrameworkEvent;
class FrameworkPrivate;

/// The system bundle (id 0, symbolic name "system_bundle").
/// Init makes its context usable; Start also starts it; Stop stops every started
/// bundle in reverse start order, unregisters all services and invalidates the
/// contexts, on the calling thread.
class US_Framework_EXPORT Framework : public Bundle {
public:
    explicit Framework(Bundle b);
    Framework(Framework const& fw);
    Framework(Framework&& fw) noexcept;
    Framework& operator=(Framework const& fw);
    Framework& operator=(Framework&& fw) noexcept;

    void Init();

    /// Waits until the framework has stopped. A zero timeout waits without limit.
    /// Returns FRAMEWORK_STOPPED, or FRAMEWORK_WAIT_TIMEDOUT when time ran out.
    FrameworkEvent WaitForStop(std::chrono::milliseconds const& timeout);

private:
    friend class FrameworkFactory;
    Framework(std::shared_ptr<FrameworkPrivate> const& d);
};

} // namespace cppmicroservices

#endif
