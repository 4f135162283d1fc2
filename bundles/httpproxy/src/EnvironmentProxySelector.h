#pragma once

#include <foundation/httpproxy/ProxySelector.h>

namespace foundation::httpproxy::bundle {

/// The selector of this bundle: the user's proxy variables as the process environment holds
/// them at the moment of each request.
class EnvironmentProxySelector final : public ProxySelector {
public:
    ProxyList select(const std::string& url) override;
};

} // namespace foundation::httpproxy::bundle
