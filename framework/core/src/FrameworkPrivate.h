#ifndef CPPMICROSERVICES_SRC_FRAMEWORKPRIVATE_H
#define CPPMICROSERVICES_SRC_FRAMEWORKPRIVATE_H

#include "BundlePrivate.h"

#include "cppmicroservices/FrameworkEvent.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>

namespace cppmicroservices {

/// The system bundle; owns the framework's shared state.
class FrameworkPrivate final : public BundlePrivate {
public:
    explicit FrameworkPrivate(std::shared_ptr<CoreBundleContext> const& core);

    void Init();
    void Start() override;
    void Stop() override;
    FrameworkEvent WaitForStop(std::chrono::milliseconds timeout);

private:
    void StopBundles();

    std::shared_ptr<CoreBundleContext> const ownedCore;
    std::mutex stopMutex;
    std::condition_variable stopped;
    std::uint64_t stopGeneration = 0;
};

} // namespace cppmicroservices

#endif
