#include "ServiceRegistrationBasePrivate.h"

#include "cppmicroservices/Constants.h"

#include <algorithm>
#include <climits>

namespace cppmicroservices {

namespace {

// Other integer types are taken at their value; anything else ranks as 0.
int RankingOf(ServiceProperties const& properties) {
    auto it = properties.find(Constants::SERVICE_RANKING);
    if (it == properties.end()) {
        return 0;
    }
    if (auto const* r = any_cast<int>(&it->second)) {
        return *r;
    }
    long long wide = 0;
    if (auto const* r = any_cast<long>(&it->second)) {
        wide = *r;
    } else if (auto const* r = any_cast<long long>(&it->second)) {
        wide = *r;
    }
    return static_cast<int>(std::clamp<long long>(wide, INT_MIN, INT_MAX));
}

} // namespace

ServiceRegistrationBasePrivate::Rank ServiceRegistrationBasePrivate::GetRank() const {
    std::lock_guard lock(mutex);
    return Rank{RankingOf(properties), id};
}

ServiceProperties ServiceRegistrationBasePrivate::Properties() const {
    std::lock_guard lock(mutex);
    return properties;
}

bool ServiceRegistrationBasePrivate::IsAvailable() const {
    std::lock_guard lock(mutex);
    return available;
}

} // namespace cppmicroservices
