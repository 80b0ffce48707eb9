#include "platform/RouteWatch.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/Read.h"

namespace vigil::platform {

std::vector<Route> parseRouteMessages(const void* data, std::size_t length, bool* done) {
    std::vector<Route> routes;
    if (done)
        *done = false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= length) {
        nlmsghdr header;
        std::memcpy(&header, bytes + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length - offset)
            break;
        if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) {
            if (done)
                *done = true;
            break;
        }
        if ((header.nlmsg_type == RTM_NEWROUTE) &&
            header.nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            rtmsg rt;
            std::memcpy(&rt, bytes + offset + NLMSG_HDRLEN, sizeof rt);
            Route route;
            route.family = rt.rtm_family;
            route.dstLength = rt.rtm_dst_len;
            route.table = rt.rtm_table;
            route.type = rt.rtm_type;
            std::size_t attrOffset = offset + NLMSG_LENGTH(sizeof(rtmsg));
            attrOffset = offset + NLMSG_ALIGN(attrOffset - offset);
            std::size_t end = offset + header.nlmsg_len;
            while (attrOffset + sizeof(rtattr) <= end) {
                rtattr attr;
                std::memcpy(&attr, bytes + attrOffset, sizeof attr);
                if (attr.rta_len < sizeof(rtattr) || attr.rta_len > end - attrOffset)
                    break;
                const std::uint8_t* payload = bytes + attrOffset + RTA_LENGTH(0);
                std::size_t payloadLength = attr.rta_len - RTA_LENGTH(0);
                switch (attr.rta_type) {
                    case RTA_TABLE:
                        if (payloadLength >= 4) {
                            std::uint32_t table;
                            std::memcpy(&table, payload, 4);
                            if (table <=
                                static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
                                route.table = static_cast<int>(table);
                            }
                        }
                        break;
                    case RTA_PRIORITY:
                        if (payloadLength >= 4)
                            std::memcpy(&route.priority, payload, 4);
                        break;
                    case RTA_OIF:
                        if (payloadLength >= 4)
                            std::memcpy(&route.outputInterface, payload, 4);
                        break;
                    case RTA_GATEWAY: {
                        char text[INET6_ADDRSTRLEN] = {};
                        if ((rt.rtm_family == AF_INET && payloadLength == 4) ||
                            (rt.rtm_family == AF_INET6 && payloadLength == 16)) {
                            if (::inet_ntop(rt.rtm_family, payload, text, sizeof text)) {
                                route.gateway = text;
                            }
                        }
                        break;
                    }
                    default:
                        break;
                }
                attrOffset += RTA_ALIGN(attr.rta_len);
            }
            routes.push_back(std::move(route));
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return routes;
}

std::vector<DefaultRoute> defaultRoutesOf(const std::vector<Route>& routes) {
    std::vector<DefaultRoute> result;
    for (const auto& route : routes) {
        if ((route.family != AF_INET && route.family != AF_INET6) || route.dstLength > 1 ||
            route.table == RT_TABLE_LOCAL || route.type != RTN_UNICAST) {
            continue;
        }
        DefaultRoute entry;
        entry.gateway = route.gateway;
        entry.family = route.family;
        entry.metric = route.priority;
        entry.table = route.table;
        entry.prefixLength = route.dstLength;
        char name[IF_NAMESIZE] = {};
        if (route.outputInterface > 0 &&
            ::if_indextoname(static_cast<unsigned>(route.outputInterface), name)) {
            entry.interface = name;
        }
        result.push_back(std::move(entry));
    }
    return result;
}

std::optional<DefaultRoute> primaryDefaultRoute(const std::vector<DefaultRoute>& routes) {
    for (const int family : {AF_INET, AF_INET6}) {
        const DefaultRoute* best = nullptr;
        for (const auto& route : routes) {
            if (route.family != family || route.table != RT_TABLE_MAIN || route.prefixLength != 0)
                continue;
            if (!best || route.metric < best->metric)
                best = &route;
        }
        if (best)
            return *best;
    }
    return std::nullopt;
}

std::optional<DefaultRoute> pickDefaultRoute(const std::vector<Route>& routes) {
    return primaryDefaultRoute(defaultRoutesOf(routes));
}

RouteWatch::RouteWatch() = default;

RouteWatch::~RouteWatch() {
    if (fd_ >= 0)
        ::close(fd_);
    if (queryFd_ >= 0)
        ::close(queryFd_);
}

void RouteWatch::setQuery(Query query) {
    std::lock_guard<std::mutex> lock(queryMutex_);
    query_ = std::move(query);
}

std::optional<std::vector<DefaultRoute>> RouteWatch::defaultRoutes() {
    std::lock_guard<std::mutex> lock(queryMutex_);
    std::optional<std::vector<Route>> routes;
    if (query_) {
        routes = query_();
    } else {
        if (queryFd_ < 0) {
            queryFd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
            if (queryFd_ < 0) {
                reportError("socket(NETLINK_ROUTE)", std::strerror(errno));
                return std::nullopt;
            }
            timeval timeout{2, 0};
            ::setsockopt(queryFd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        }
        routes = queryRoutes(queryFd_);
    }
    if (!routes)
        return std::nullopt;
    return defaultRoutesOf(*routes);
}

bool RouteWatch::open() {
    if (fd_ >= 0)
        return true;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        reportError("socket(NETLINK_ROUTE)", std::strerror(errno));
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR |
                        RTMGRP_IPV6_IFADDR | RTMGRP_LINK;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        reportError("bind(NETLINK_ROUTE)", std::strerror(errno));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool RouteWatch::drain() {
    if (fd_ < 0)
        return false;
    bool relevant = false;
    alignas(nlmsghdr) std::uint8_t buffer[16384];
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // ENOBUFS: notices were lost; the values are re-read anyway.
            if (errno == ENOBUFS)
                relevant = true;
            break;
        }
        if (n == 0)
            break;
        std::size_t offset = 0;
        while (offset + sizeof(nlmsghdr) <= static_cast<std::size_t>(n)) {
            nlmsghdr header;
            std::memcpy(&header, buffer + offset, sizeof header);
            if (header.nlmsg_len < sizeof header || header.nlmsg_len > n - offset)
                break;
            switch (header.nlmsg_type) {
                case RTM_NEWROUTE:
                case RTM_DELROUTE:
                case RTM_NEWADDR:
                case RTM_DELADDR:
                case RTM_NEWLINK:
                case RTM_DELLINK:
                    relevant = true;
                    break;
                default:
                    break;
            }
            offset += NLMSG_ALIGN(header.nlmsg_len);
        }
    }
    return relevant;
}

std::optional<std::vector<Route>> RouteWatch::queryRoutes(int sharedFd) {
    int fd = sharedFd;
    if (fd < 0) {
        fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd < 0) {
            reportError("socket(NETLINK_ROUTE)", std::strerror(errno));
            return std::nullopt;
        }
        timeval timeout{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    auto closeOwn = [&] {
        if (sharedFd < 0)
            ::close(fd);
    };
    static std::atomic<std::uint32_t> sequence{1};
    const std::uint32_t seq = sequence.fetch_add(1);
    struct {
        nlmsghdr header;
        rtmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = seq;
    request.body.rtm_family = AF_UNSPEC;  // IPv4 and IPv6
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        reportError("sendto(RTM_GETROUTE)", std::strerror(errno));
        closeOwn();
        return std::nullopt;
    }
    std::vector<Route> routes;
    alignas(nlmsghdr) std::uint8_t buffer[32768];
    for (int i = 0; i < 4096; ++i) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reportError("recv(RTM_GETROUTE)", n < 0 ? std::strerror(errno) : "connection closed");
            closeOwn();
            return std::nullopt;
        }
        // Skip what is left of an earlier, abandoned dump.
        if (static_cast<std::size_t>(n) >= sizeof(nlmsghdr)) {
            nlmsghdr first;
            std::memcpy(&first, buffer, sizeof first);
            if (first.nlmsg_seq != seq)
                continue;
        }
        bool done = false;
        auto part = parseRouteMessages(buffer, static_cast<std::size_t>(n), &done);
        routes.insert(routes.end(), part.begin(), part.end());
        if (done)
            break;
    }
    closeOwn();
    return routes;
}

}  // namespace vigil::platform
