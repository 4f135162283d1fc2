#include "EnvironmentProxySelector.h"

#include <foundation/httpproxy/EnvironmentProxySettings.h>

namespace foundation::httpproxy::bundle {

ProxyList EnvironmentProxySelector::select(const std::string& url) {
    return EnvironmentProxySettings().select(url);
}

} // namespace foundation::httpproxy::bundle
