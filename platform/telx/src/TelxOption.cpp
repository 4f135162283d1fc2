#include <telx/TelxOption.h>

namespace telx {

// Constant-initialised, so it is usable from other libraries' static initialisers.
constinit const TelxOption TelxOption::defaultOption{};

} // namespace telx
