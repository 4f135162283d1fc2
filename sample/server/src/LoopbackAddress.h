#pragma once

#include <string>

namespace sample::server {

// True for a numeric loopback address: IPv4 in 127.0.0.0/8 or the IPv6 address ::1. Host names
// are refused, since what they resolve to is not ours to decide.
bool isLoopbackAddress(const std::string& address);

// "http://<address>:<port>", with an IPv6 address in brackets.
std::string baseUrlFor(const std::string& address, int port);

} // namespace sample::server
