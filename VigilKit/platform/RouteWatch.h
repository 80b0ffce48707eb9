#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vigil::platform {

// One route of an rtnetlink dump.
struct Route {
    int family = 0;
    int dstLength = 0;
    int table = 0;
    int type = 0;
    std::uint32_t priority = 0;
    int outputInterface = 0;
    std::string gateway;  // text form; empty without a gateway
};

// Parses the routes in a buffer of netlink messages (a dump reply or change notices). Messages that
// are cut short or malformed end the parse; what came before is kept. `done` is set when the buffer
// holds the end of a dump (NLMSG_DONE or an error).
std::vector<Route> parseRouteMessages(const void* data, std::size_t length, bool* done = nullptr);

// A route that carries traffic to the whole Internet: a default route, or one half of it.
struct DefaultRoute {
    std::string gateway;    // empty for a route without a gateway (point-to-point)
    std::string interface;  // the interface's name (of the caller's network namespace)
    int family = 0;         // AF_INET or AF_INET6
    std::uint32_t metric = 0;
    int table = 254;       // RT_TABLE_MAIN
    int prefixLength = 0;  // 0, or 1 for a half
};
// The unicast routes that carry the Internet's traffic, IPv4 and IPv6, in the order given: the
// default routes of every table but the local one (a WireGuard tunnel set up by wg-quick has its
// own table, chosen by a policy rule) and the halves ::/1, 0.0.0.0/1 and 128.0.0.0/1 (with which
// OpenVPN overrides the default route without replacing it).
std::vector<DefaultRoute> defaultRoutesOf(const std::vector<Route>& routes);
// The route that carries the machine's traffic: of the main table's default routes, the IPv4 one
// with the lowest metric, or the IPv6 one where there is no IPv4 one. The first listed wins a tie,
// as in the kernel.
std::optional<DefaultRoute> primaryDefaultRoute(const std::vector<DefaultRoute>& routes);
// primaryDefaultRoute of a dump's routes.
std::optional<DefaultRoute> pickDefaultRoute(const std::vector<Route>& routes);

// The route and address watch over an rtnetlink socket, and one-shot queries of the default route.
// Sockets belong to the network namespace of the thread that opens them.
class RouteWatch {
  public:
    RouteWatch();
    ~RouteWatch();
    RouteWatch(const RouteWatch&) = delete;
    RouteWatch& operator=(const RouteWatch&) = delete;

    // Subscribes to route, address and link changes. False (with an error line) when the socket
    // cannot be opened.
    bool open();
    int fd() const { return fd_; }
    // Reads every pending notice without blocking; true when any was about routes, addresses or
    // links.
    bool drain();

    // Every default route (defaultRoutesOf), asked on a socket of the watch's own, opened in the
    // network namespace of the thread that first asks; nullopt when netlink could not be asked.
    // Safe to call from any thread.
    std::optional<std::vector<DefaultRoute>> defaultRoutes();

    // What defaultRoutes() asks instead of the kernel; an empty function asks the kernel again.
    // Tests make the question fail with it.
    using Query = std::function<std::optional<std::vector<Route>>()>;
    void setQuery(Query query);

    // Dumps the IPv4 and IPv6 routes of the caller's network namespace; nullopt (with an error
    // line) when netlink cannot be asked. `fd` -1 opens a socket for the one query.
    static std::optional<std::vector<Route>> queryRoutes(int fd = -1);

  private:
    int fd_ = -1;
    int queryFd_ = -1;
    std::mutex queryMutex_;
    Query query_;
};

}  // namespace vigil::platform
