#include <foundation/httpproxy/ProxySelector.h>

namespace foundation::httpproxy {

ProxySelector::~ProxySelector() = default;

} // namespace foundation::httpproxy
