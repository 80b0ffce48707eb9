#include "platform/Wireless.h"

// net/if.h before the kernel headers, which otherwise redefine its names.
#include <net/if.h>

#include <linux/nl80211.h>
#include <linux/wireless.h>
#include <netlink/attr.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>

namespace vigil::platform {

namespace {

// An SSID is up to 32 bytes of anything; keep it as text but never past its length.
std::string ssidText(const void* bytes, size_t length) {
    return std::string(static_cast<const char*>(bytes), std::min<size_t>(length, 32));
}

struct SocketDeleter {
    void operator()(nl_sock* sock) const { nl_socket_free(sock); }
};

int onInterfaceMessage(nl_msg* message, void* arg) {
    auto* ssid = static_cast<std::optional<std::string>*>(arg);
    auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(message)));
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (nla_parse(attributes, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0),
                  genlmsg_attrlen(header, 0), nullptr) < 0) {
        return NL_SKIP;
    }
    if (nlattr* attribute = attributes[NL80211_ATTR_SSID]) {
        *ssid = ssidText(nla_data(attribute), static_cast<size_t>(nla_len(attribute)));
    }
    return NL_SKIP;
}

std::optional<std::string> fromNl80211(unsigned index) {
    std::unique_ptr<nl_sock, SocketDeleter> sock(nl_socket_alloc());
    if (!sock || genl_connect(sock.get()) < 0)
        return std::nullopt;
    const int family = genl_ctrl_resolve(sock.get(), NL80211_GENL_NAME);
    if (family < 0)
        return std::nullopt;
    std::unique_ptr<nl_msg, void (*)(nl_msg*)> message(nlmsg_alloc(), nlmsg_free);
    if (!message)
        return std::nullopt;
    if (!genlmsg_put(message.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, 0,
                     NL80211_CMD_GET_INTERFACE, 0) ||
        nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, index) < 0) {
        return std::nullopt;
    }
    std::optional<std::string> ssid;
    nl_socket_modify_cb(sock.get(), NL_CB_VALID, NL_CB_CUSTOM, onInterfaceMessage, &ssid);
    if (nl_send_auto(sock.get(), message.get()) < 0)
        return std::nullopt;
    if (nl_recvmsgs_default(sock.get()) < 0)
        return std::nullopt;
    return ssid;
}

std::optional<std::string> fromWirelessExtensions(const std::string& interface) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::array<char, IW_ESSID_MAX_SIZE + 1> buffer{};
    iwreq request{};
    std::strncpy(request.ifr_ifrn.ifrn_name, interface.c_str(), IFNAMSIZ - 1);
    request.u.essid.pointer = buffer.data();
    request.u.essid.length = IW_ESSID_MAX_SIZE;
    const int result = ioctl(fd, SIOCGIWESSID, &request);
    close(fd);
    if (result < 0)
        return std::nullopt;
    return ssidText(buffer.data(), std::min<size_t>(request.u.essid.length, IW_ESSID_MAX_SIZE));
}

}  // namespace

std::optional<std::string> wirelessNetworkName(const std::string& interface) {
    if (interface.empty() || interface.size() >= IFNAMSIZ)
        return std::nullopt;
    const unsigned index = if_nametoindex(interface.c_str());
    if (index == 0)
        return std::nullopt;
    if (auto ssid = fromNl80211(index))
        return ssid;
    return fromWirelessExtensions(interface);
}

}  // namespace vigil::platform
