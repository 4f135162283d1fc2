#include "cppmicroservices/BundleContext.h"

#include "BundleContextPrivate.h"
#include "BundlePrivate.h"
#include "CoreBundleContext.h"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleEvent.h"

#include <stdexcept>

namespace cppmicroservices {

std::shared_ptr<BundlePrivate> BundleContextPrivate::CheckedBundle() const {
    auto b = bundle.lock();
    if (!b || !valid) {
        throw IllegalStateException("The bundle context is no longer valid");
    }
    return b;
}

BundleContext MakeBundleContext(std::shared_ptr<BundleContextPrivate> const& d) {
    return BundleContext(d);
}
std::shared_ptr<BundleContextPrivate> GetPrivate(BundleContext const& context) {
    return context.d;
}

namespace detail {
BundleContext MakeBundleContext(BundleContextPrivate* d) {
    return d ? cppmicroservices::MakeBundleContext(d->shared_from_this()) : BundleContext();
}
} // namespace detail

namespace {
std::shared_ptr<BundlePrivate> Checked(std::shared_ptr<BundleContextPrivate> const& d) {
    if (!d) {
        throw IllegalStateException("The bundle context is no longer valid");
    }
    return d->CheckedBundle();
}
} // namespace

BundleContext::BundleContext() = default;
BundleContext::BundleContext(std::shared_ptr<BundleContextPrivate> ctx) : d(std::move(ctx)) {}

bool BundleContext::operator==(BundleContext const& rhs) const {
    return d == rhs.d;
}
bool BundleContext::operator!=(BundleContext const& rhs) const {
    return d != rhs.d;
}
bool BundleContext::operator<(BundleContext const& rhs) const {
    return d < rhs.d;
}
BundleContext::operator bool() const {
    return d && d->valid && !d->bundle.expired();
}
BundleContext& BundleContext::operator=(std::nullptr_t) {
    d.reset();
    return *this;
}

Any BundleContext::GetProperty(std::string const& key) const {
    auto const& config = Checked(d)->Core()->config;
    auto it = config.find(key);
    return it == config.end() ? Any() : it->second;
}

Bundle BundleContext::GetBundle() const {
    return MakeBundle(Checked(d));
}

Bundle BundleContext::GetBundle(long id) const {
    auto b = Checked(d)->Core()->GetBundle(id);
    return b ? MakeBundle(b) : Bundle();
}

std::vector<Bundle> BundleContext::GetBundles(std::string const& location) const {
    std::vector<Bundle> result;
    for (auto const& b : Checked(d)->Core()->GetBundles()) {
        if (b->location == location) {
            result.push_back(MakeBundle(b));
        }
    }
    return result;
}

std::vector<Bundle> BundleContext::GetBundles() const {
    std::vector<Bundle> result;
    for (auto const& b : Checked(d)->Core()->GetBundles()) {
        result.push_back(MakeBundle(b));
    }
    return result;
}

ServiceRegistrationU BundleContext::RegisterService(InterfaceMapConstPtr const& service,
                                                    ServiceProperties const& properties) {
    auto bundle = Checked(d);
    auto core = bundle->Core();
    return ServiceRegistrationU(
        ServiceRegistrationBase(core->services.Register(core, bundle, service, properties)));
}

std::vector<ServiceReferenceU> BundleContext::GetServiceReferences(std::string const& name,
                                                                   std::string const& filter) {
    auto core = Checked(d)->Core();
    // "::I" names the interface I of the global namespace, whose id is "I". A name of
    // colons only stays as it is (it must not become "", which means every service).
    auto const start = name.find_first_not_of(':');
    std::string const clazz = start == std::string::npos ? name : name.substr(start);
    std::vector<ServiceReferenceU> result;
    for (auto const& reg : core->services.Find(clazz, filter)) {
        ServiceReferenceBase ref(reg);
        if (!clazz.empty()) {
            ref.SetInterfaceId(clazz);
        }
        result.emplace_back(ref);
    }
    return result;
}

ServiceReferenceU BundleContext::GetServiceReference(std::string const& clazz) {
    auto refs = GetServiceReferences(clazz);
    return refs.empty() ? ServiceReferenceU() : refs.front();
}

std::shared_ptr<void> BundleContext::GetService(ServiceReferenceBase const& reference) {
    auto bundle = Checked(d);
    // A reference whose service was withdrawn after the lookup yields nothing; only
    // a reference that never named a service is a caller error.
    if (!reference.Registration()) {
        throw std::invalid_argument(
            "Default constructed ServiceReference is not a valid input to GetService.");
    }
    auto map = ServiceRegistry::GetServiceMap(bundle, reference.Registration());
    if (!map) {
        return nullptr;
    }
    auto object = ExtractInterface(map, reference.GetInterfaceId());
    if (!object) {
        return nullptr;
    }
    // The pointer keeps the map (and with it the factory's use count) alive.
    return std::shared_ptr<void>(object.get(), [map, object](void*) {});
}

InterfaceMapConstPtr BundleContext::GetService(ServiceReferenceU const& reference) {
    auto bundle = Checked(d);
    // A reference whose service was withdrawn after the lookup yields nothing; only
    // a reference that never named a service is a caller error.
    if (!reference.Registration()) {
        throw std::invalid_argument(
            "Default constructed ServiceReference is not a valid input to GetService.");
    }
    return ServiceRegistry::GetServiceMap(bundle, reference.Registration());
}

ListenerToken BundleContext::AddBundleListener(BundleListener const& listener) {
    return Checked(d)->Core()->AddBundleListener(listener);
}

ListenerToken BundleContext::AddFrameworkListener(FrameworkListener const& listener) {
    return Checked(d)->Core()->AddFrameworkListener(listener);
}

void BundleContext::RemoveListener(ListenerToken token) {
    if (token) {
        Checked(d)->Core()->RemoveListener(token.Id());
    }
}

std::vector<Bundle> BundleContext::InstallBundles(std::string const& location, AnyMap const&) {
    auto core = Checked(d)->Core();
    auto [bundle, installed] = core->Install(location);
    if (installed) {
        core->FireBundleEvent(BundleEvent(BundleEvent::BUNDLE_INSTALLED, MakeBundle(bundle)));
    }
    return {MakeBundle(bundle)};
}

} // namespace cppmicroservices
