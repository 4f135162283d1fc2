#ifndef CPPMICROSERVICES_SRC_BUNDLEPRIVATE_H
#define CPPMICROSERVICES_SRC_BUNDLEPRIVATE_H

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/BundleEvent.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace cppmicroservices {

class CoreBundleContext;
class BundleContextPrivate;
struct BundleActivator;

/// One installed bundle. Lives as long as its framework (or a handle on it).
class BundlePrivate : public std::enable_shared_from_this<BundlePrivate> {
public:
    BundlePrivate(std::shared_ptr<CoreBundleContext> const& core, long id, std::string location,
                  std::string libraryPath, nlohmann::json manifest);
    virtual ~BundlePrivate();

    BundlePrivate(BundlePrivate const&) = delete;
    BundlePrivate& operator=(BundlePrivate const&) = delete;

    /// Creates the context record; called once right after construction.
    void AttachContext();

    virtual void Start();
    virtual void Stop();

    /// The framework this bundle belongs to; throws std::runtime_error when it is gone.
    std::shared_ptr<CoreBundleContext> Core() const;
    BundleContext Context() const;
    void* LoadLibrary();

    long const id;
    std::string const location;
    std::string const libraryPath;
    nlohmann::json const manifest;
    AnyMap const headers;
    std::string const symbolicName;
    bool const hasActivator;

    std::atomic<Bundle::State> state{Bundle::STATE_INSTALLED};
    std::shared_ptr<BundleContextPrivate> context;

protected:
    void Fire(BundleEvent::Type type);

    std::weak_ptr<CoreBundleContext> core;
    // Serialises start and stop of this bundle; recursive so that listeners and
    // activators may start or stop it again from the same thread.
    std::recursive_mutex lifecycleMutex;

private:
    void RunActivatorStart();
    void ReleaseActivator() noexcept;

    std::mutex libraryMutex;
    void* libraryHandle = nullptr;
    BundleActivator* activator = nullptr;
    void (*destroyActivator)(BundleActivator*) = nullptr;
};

Bundle MakeBundle(std::shared_ptr<BundlePrivate> const& d);
std::shared_ptr<BundlePrivate> GetPrivate(Bundle const& bundle);

} // namespace cppmicroservices

#endif
