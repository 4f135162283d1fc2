#include "BundlePrivate.h"

#include "BundleContextPrivate.h"
#include "CoreBundleContext.h"
#include "ManifestHeaders.h"

// The activator header is meant for bundles and wants their name; the framework
// only needs the interface.
#define US_BUNDLE_NAME system_bundle
#include "cppmicroservices/BundleActivator.h"
#undef US_BUNDLE_NAME

#include <dlfcn.h>

#include <stdexcept>

namespace cppmicroservices {

namespace {

std::string SymbolicNameOf(nlohmann::json const& manifest, long id) {
    if (id == 0) {
        return "system_bundle";
    }
    return manifest.at("bundle.symbolic_name").get<std::string>();
}

bool HasActivator(nlohmann::json const& manifest) {
    auto it = manifest.find("bundle.activator");
    return it != manifest.end() && it->is_boolean() && it->get<bool>();
}

std::string DescribeCurrentException() {
    try {
        throw;
    } catch (std::exception const& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

} // namespace

BundlePrivate::BundlePrivate(std::shared_ptr<CoreBundleContext> const& c, long bundleId,
                             std::string loc, std::string libPath, nlohmann::json bundleManifest)
    : id(bundleId), location(std::move(loc)), libraryPath(std::move(libPath)),
      manifest(std::move(bundleManifest)), headers(ManifestHeaders(manifest)),
      symbolicName(SymbolicNameOf(manifest, bundleId)), hasActivator(HasActivator(manifest)),
      core(c) {}

BundlePrivate::~BundlePrivate() = default;

void BundlePrivate::AttachContext() {
    context = std::make_shared<BundleContextPrivate>(weak_from_this());
}

std::shared_ptr<CoreBundleContext> BundlePrivate::Core() const {
    auto c = core.lock();
    if (!c) {
        throw std::runtime_error("The framework of bundle \"" + symbolicName +
                                 "\" no longer exists");
    }
    return c;
}

BundleContext BundlePrivate::Context() const {
    return MakeBundleContext(context);
}

void BundlePrivate::Fire(BundleEvent::Type type) {
    Core()->FireBundleEvent(BundleEvent(type, MakeBundle(shared_from_this())));
}

void* BundlePrivate::LoadLibrary() {
    std::lock_guard lock(libraryMutex);
    if (libraryHandle) {
        return libraryHandle;
    }
    if (libraryPath.empty()) {
        throw std::runtime_error("Bundle \"" + symbolicName + "\" has no library");
    }
    dlerror();
    void* handle = dlopen(libraryPath.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
        char const* error = dlerror();
        throw std::runtime_error("Cannot load bundle library '" + libraryPath +
                                 "': " + (error ? error : "unknown error"));
    }
    // The library's code must see its context before anything of it runs for the framework.
    using SetContext = void (*)(BundleContextPrivate*);
    std::string const setterName = "_us_set_bundle_context_instance_" + symbolicName;
    if (auto setter = reinterpret_cast<SetContext>(dlsym(handle, setterName.c_str()))) {
        setter(context.get());
    }
    libraryHandle = handle;
    return libraryHandle;
}

void BundlePrivate::RunActivatorStart() {
    void* handle = LoadLibrary();
    using Create = BundleActivator* (*)();
    std::string const createName = "_us_create_activator_" + symbolicName;
    std::string const destroyName = "_us_destroy_activator_" + symbolicName;
    auto create = reinterpret_cast<Create>(dlsym(handle, createName.c_str()));
    auto destroy = reinterpret_cast<void (*)(BundleActivator*)>(dlsym(handle, destroyName.c_str()));
    if (!create || !destroy) {
        throw std::runtime_error("Bundle library '" + libraryPath + "' does not export " +
                                 createName + " and " + destroyName);
    }
    activator = create();
    destroyActivator = destroy;
    if (!activator) {
        throw std::runtime_error("The activator factory of bundle \"" + symbolicName +
                                 "\" returned null");
    }
    activator->Start(Context());
}

void BundlePrivate::ReleaseActivator() noexcept {
    if (activator && destroyActivator) {
        try {
            destroyActivator(activator);
        } catch (...) {
            Core()->ReportError(shared_from_this(),
                                "Destroying the activator of bundle \"" + symbolicName +
                                    "\" failed",
                                std::current_exception());
        }
    }
    activator = nullptr;
    destroyActivator = nullptr;
}

void BundlePrivate::Start() {
    auto c = Core();
    std::lock_guard lock(lifecycleMutex);
    auto const current = state.load();
    if (current == Bundle::STATE_ACTIVE || current == Bundle::STATE_STARTING) {
        return;
    }
    if (current == Bundle::STATE_STOPPING) {
        throw std::runtime_error("Bundle \"" + symbolicName +
                                 "\" cannot start while it is stopping");
    }
    auto system = c->SystemBundle();
    auto const frameworkState = system ? system->state.load() : Bundle::STATE_UNINSTALLED;
    if (frameworkState != Bundle::STATE_ACTIVE && frameworkState != Bundle::STATE_STARTING) {
        throw std::runtime_error("Bundle \"" + symbolicName +
                                 "\" cannot start: the framework is not running");
    }

    state = Bundle::STATE_STARTING;
    context->valid = true;
    Fire(BundleEvent::BUNDLE_STARTING);
    if (hasActivator) {
        try {
            RunActivatorStart();
        } catch (...) {
            std::string const reason = DescribeCurrentException();
            ReleaseActivator();
            c->services.UnregisterAll(this);
            c->services.ReleaseObjectsOf(this);
            context->valid = false;
            state = Bundle::STATE_RESOLVED;
            std::throw_with_nested(std::runtime_error("Bundle \"" + symbolicName + "\" (" +
                                                      location + ") failed to start: " + reason));
        }
    }
    state = Bundle::STATE_ACTIVE;
    c->RecordStarted(shared_from_this());
    Fire(BundleEvent::BUNDLE_STARTED);
}

void BundlePrivate::Stop() {
    auto c = Core();
    std::lock_guard lock(lifecycleMutex);
    if (state.load() != Bundle::STATE_ACTIVE) {
        return;
    }
    state = Bundle::STATE_STOPPING;
    Fire(BundleEvent::BUNDLE_STOPPING);

    std::exception_ptr stopError;
    if (activator) {
        try {
            activator->Stop(Context());
        } catch (...) {
            stopError = std::current_exception();
        }
    }
    c->services.UnregisterAll(this);
    c->services.ReleaseObjectsOf(this);
    ReleaseActivator();
    context->valid = false;
    state = Bundle::STATE_RESOLVED;
    c->RecordStopped(this);
    Fire(BundleEvent::BUNDLE_STOPPED);

    if (stopError) {
        try {
            std::rethrow_exception(stopError);
        } catch (...) {
            std::throw_with_nested(
                std::runtime_error("The activator of bundle \"" + symbolicName +
                                   "\" failed to stop: " + DescribeCurrentException()));
        }
    }
}

Bundle MakeBundle(std::shared_ptr<BundlePrivate> const& d) {
    return Bundle(d);
}
std::shared_ptr<BundlePrivate> GetPrivate(Bundle const& bundle) {
    return bundle.d;
}

} // namespace cppmicroservices
