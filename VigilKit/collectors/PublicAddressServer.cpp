#include "collectors/PublicAddressServer.h"

#include "collectors/NetworkData.h"
#include "collectors/PublicAddress.h"
#include "settings/Defaults.h"

namespace vigil {

std::string publicAddressServer() {
    auto server = Defaults::shared()["publicAddressServer"].string();
    if (!server || server->empty())
        return kDefaultPublicAddressServer;
    return *server;
}

std::optional<std::string> lookUpPublicAddress() {
    char address[kPublicAddressSize] = {};
    const std::string server = publicAddressServer();
    if (getPublicAddress(server.c_str(), address) == nullptr)
        return std::nullopt;
    return std::string(address);
}

bool isPublicAddressServerReachable() {
    char host[256] = {};
    const std::string server = publicAddressServer();
    return PublicAddress_serverHost(server.c_str(), host) && isConnectedToInternet(host);
}

}  // namespace vigil
