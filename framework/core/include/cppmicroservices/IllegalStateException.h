#ifndef CPPMICROSERVICES_ILLEGALSTATEEXCEPTION_H
#define CPPMICROSERVICES_ILLEGALSTATEEXCEPTION_H

#include "cppmicroservices/FrameworkConfig.h"

#include <stdexcept>
#include <string>

namespace cppmicroservices {

/// An operation on an object that is no longer in a state to perform it
/// (for example a bundle context after its bundle stopped).
class US_Framework_EXPORT IllegalStateException final : public std::runtime_error {
public:
    explicit IllegalStateException(std::string what);
    ~IllegalStateException() override;
};

} // namespace cppmicroservices

#endif
