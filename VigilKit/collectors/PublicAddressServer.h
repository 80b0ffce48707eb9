#pragma once

#include <optional>
#include <string>

namespace vigil {

// The public-address echo server: the "publicAddressServer" setting (host or host:port), or the
// built-in default when the setting is absent or empty.
constexpr const char* kDefaultPublicAddressServer = "icanhazip.com";
std::string publicAddressServer();

// One lookup at the current server, with a buffer of its own; nullopt when no connection could be
// made, else the address or empty text.
std::optional<std::string> lookUpPublicAddress();

// Whether the current server's host name resolves to an IPv4 address.
bool isPublicAddressServerReachable();

}  // namespace vigil
