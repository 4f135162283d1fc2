#include <foundation/feature/detail/State.h>

#include <utility>

namespace foundation::feature::detail {

State::State(std::string name) : name(std::move(name)) {}

} // namespace foundation::feature::detail
