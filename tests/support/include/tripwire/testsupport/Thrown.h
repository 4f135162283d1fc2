#pragma once

#include <exception>
#include <optional>
#include <string>

namespace tripwire::testsupport {

/// The exception of type E that `call` throws, or nullopt when it returns.
template <typename E, typename Call> std::optional<E> thrown(Call&& call) {
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

/// What the exception of type E that `call` throws says; "(nothing thrown)" when it returns.
template <typename E = std::exception, typename Call> std::string whatThrown(Call&& call) {
    try {
        call();
    } catch (const E& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

} // namespace tripwire::testsupport
