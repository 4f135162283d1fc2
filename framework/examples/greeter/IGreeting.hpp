#ifndef EXAMPLE_IGREETING_HPP
#define EXAMPLE_IGREETING_HPP

#include <string>

namespace example {

/// The one service of the example bundle.
class IGreeting {
public:
    virtual ~IGreeting() = default;
    virtual std::string Greet(const std::string& name) = 0;
};

} // namespace example

#endif
