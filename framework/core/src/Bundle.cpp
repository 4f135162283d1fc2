#include "cppmicroservices/Bundle.h"

#include "BundleContextPrivate.h"
#include "BundlePrivate.h"
#include "CoreBundleContext.h"

#include "cppmicroservices/ServiceReference.h"

#include <stdexcept>

namespace cppmicroservices {

namespace {
BundlePrivate& Checked(std::shared_ptr<BundlePrivate> const& d) {
    if (!d) {
        throw std::invalid_argument("invalid bundle");
    }
    return *d;
}
} // namespace

Bundle::Bundle(Bundle const&) = default;
Bundle::Bundle(Bundle&&) noexcept = default;
Bundle& Bundle::operator=(Bundle const&) = default;
Bundle& Bundle::operator=(Bundle&&) noexcept = default;
Bundle::Bundle() = default;
Bundle::~Bundle() = default;
Bundle::Bundle(std::shared_ptr<BundlePrivate> const& p) : d(p) {}

bool Bundle::operator==(Bundle const& rhs) const {
    return d == rhs.d;
}
bool Bundle::operator!=(Bundle const& rhs) const {
    return d != rhs.d;
}
bool Bundle::operator<(Bundle const& rhs) const {
    return (d ? d->id : -1) < (rhs.d ? rhs.d->id : -1);
}
Bundle::operator bool() const {
    return static_cast<bool>(d);
}
Bundle& Bundle::operator=(std::nullptr_t) {
    d.reset();
    return *this;
}

Bundle::State Bundle::GetState() const {
    return Checked(d).state.load();
}

BundleContext Bundle::GetBundleContext() const {
    auto& p = Checked(d);
    return p.context && p.context->valid ? p.Context() : BundleContext();
}

long Bundle::GetBundleId() const {
    return Checked(d).id;
}
std::string Bundle::GetLocation() const {
    return Checked(d).location;
}
std::string Bundle::GetSymbolicName() const {
    return Checked(d).symbolicName;
}

AnyMap const& Bundle::GetHeaders() const {
    return Checked(d).headers;
}

std::vector<ServiceReferenceU> Bundle::GetRegisteredServices() const {
    std::vector<ServiceReferenceU> result;
    for (auto const& reg : Checked(d).Core()->services.RegisteredBy(d.get())) {
        result.push_back(ServiceRegistry::MakeReference(reg));
    }
    return result;
}

void Bundle::Start(uint32_t) {
    Checked(d).Start();
}
void Bundle::Start() {
    Checked(d).Start();
}
void Bundle::Stop(uint32_t) {
    Checked(d).Stop();
}
void Bundle::Stop() {
    Checked(d).Stop();
}

std::ostream& operator<<(std::ostream& os, Bundle const& bundle) {
    if (!bundle) {
        return os << "Bundle[invalid]";
    }
    return os << "Bundle[id=" << bundle.GetBundleId() << ", name=" << bundle.GetSymbolicName()
              << ", state=" << bundle.GetState() << "]";
}

std::ostream& operator<<(std::ostream& os, Bundle::State state) {
    switch (state) {
    case Bundle::STATE_UNINSTALLED:
        return os << "UNINSTALLED";
    case Bundle::STATE_INSTALLED:
        return os << "INSTALLED";
    case Bundle::STATE_RESOLVED:
        return os << "RESOLVED";
    case Bundle::STATE_STARTING:
        return os << "STARTING";
    case Bundle::STATE_STOPPING:
        return os << "STOPPING";
    case Bundle::STATE_ACTIVE:
        return os << "ACTIVE";
    }
    return os << "Unknown bundle state (" << static_cast<uint32_t>(state) << ")";
}

} // namespace cppmicroservices
