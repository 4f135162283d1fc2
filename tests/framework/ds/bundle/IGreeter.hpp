#ifndef DSTEST_IGREETER_HPP
#define DSTEST_IGREETER_HPP

#include <string>

namespace dstest {

class IGreeter {
public:
    virtual ~IGreeter() = default;
    virtual std::string Greet(const std::string& name) = 0;
};

} // namespace dstest

#endif
