#pragma once

#include <foundation/httpproxy/Proxy.h>

#include <vector>

namespace foundation::httpproxy {

/// The proxies to try for one URL, in order of preference. Callers use the first entry; an
/// empty list or NO_PROXY first means a direct connection.
using ProxyList = std::vector<Proxy>;

} // namespace foundation::httpproxy
