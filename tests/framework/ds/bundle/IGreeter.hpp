#pragma once

#include <string>

namespace dstest {

struct IGreeter {
    virtual ~IGreeter() = default;
    virtual std::string Greet(const std::string& name) = 0;
};

} // namespace dstest
