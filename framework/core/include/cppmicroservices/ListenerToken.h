#ifndef CPPMICROSERVICES_LISTENERTOKEN_H
#define CPPMICROSERVICES_LISTENERTOKEN_H

#include "cppmicroservices/FrameworkExport.h"

#include <cstdint>

namespace cppmicroservices {

using ListenerTokenId = std::uint64_t;

/// Identifies one registered listener; hand it to BundleContext::RemoveListener.
class US_Framework_EXPORT ListenerToken {
public:
    ListenerToken();
    ListenerToken(ListenerToken const&) = delete;
    ListenerToken& operator=(ListenerToken const&) = delete;
    ListenerToken(ListenerToken&& other) noexcept;
    ListenerToken& operator=(ListenerToken&& other) noexcept;

    explicit operator bool() const;

private:
    friend class CoreBundleContext;
    friend class BundleContext;
    explicit ListenerToken(ListenerTokenId _tokenId);
    ListenerTokenId Id() const;

    ListenerTokenId tokenId;
};

} // namespace cppmicroservices

#endif
