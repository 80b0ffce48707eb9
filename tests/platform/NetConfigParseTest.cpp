#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <vector>

#include "platform/HostConfig.h"
#include "platform/RouteWatch.h"
#include "support/TestTree.h"

using namespace vigil::platform;

namespace {
// Builds one RTM_NEWROUTE message as the kernel sends it.
void appendRoute(std::vector<std::uint8_t>& out, int dstLength, const char* gateway,
                 std::uint32_t metric, int table = RT_TABLE_MAIN, int family = AF_INET) {
    std::vector<std::uint8_t> msg(NLMSG_LENGTH(sizeof(rtmsg)));
    rtmsg rt{};
    rt.rtm_family = static_cast<unsigned char>(family);
    rt.rtm_dst_len = static_cast<unsigned char>(dstLength);
    rt.rtm_table = static_cast<unsigned char>(table);
    rt.rtm_type = RTN_UNICAST;
    std::memcpy(msg.data() + NLMSG_HDRLEN, &rt, sizeof rt);
    auto attr = [&](unsigned short type, const void* data, std::size_t len) {
        std::size_t at = msg.size();
        msg.resize(at + RTA_SPACE(len));
        rtattr a{static_cast<unsigned short>(RTA_LENGTH(len)), type};
        std::memcpy(msg.data() + at, &a, sizeof a);
        std::memcpy(msg.data() + at + RTA_LENGTH(0), data, len);
    };
    if (gateway) {
        in6_addr address{};
        ::inet_pton(family, gateway, &address);
        attr(RTA_GATEWAY, &address, family == AF_INET ? 4 : 16);
    }
    attr(RTA_PRIORITY, &metric, 4);
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(msg.size());
    header.nlmsg_type = RTM_NEWROUTE;
    std::memcpy(msg.data(), &header, sizeof header);
    out.insert(out.end(), msg.begin(), msg.end());
}
}  // namespace

TEST(RouteParse, DefaultRouteWithTheLowestMetricWins) {
    std::vector<std::uint8_t> buffer;
    appendRoute(buffer, 24, nullptr, 0);
    appendRoute(buffer, 0, "192.168.1.1", 600);
    appendRoute(buffer, 0, "10.0.0.1", 100);
    appendRoute(buffer, 0, "172.16.0.1", 1, 200);  // another table
    nlmsghdr done{};
    done.nlmsg_len = NLMSG_LENGTH(4);
    done.nlmsg_type = NLMSG_DONE;
    std::size_t at = buffer.size();
    buffer.resize(at + done.nlmsg_len);
    std::memcpy(buffer.data() + at, &done, sizeof done);

    bool finished = false;
    auto routes = parseRouteMessages(buffer.data(), buffer.size(), &finished);
    EXPECT_TRUE(finished);
    ASSERT_EQ(routes.size(), 4u);
    auto best = pickDefaultRoute(routes);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->gateway, "10.0.0.1");
    EXPECT_FALSE(pickDefaultRoute({routes[0]}));

    // An IPv6 default route, even of a lower metric, counts only where there is no IPv4 one.
    std::vector<std::uint8_t> v6;
    appendRoute(v6, 0, "fe80::1", 1024, RT_TABLE_MAIN, AF_INET6);
    appendRoute(v6, 0, "fe80::2", 100, RT_TABLE_MAIN, AF_INET6);
    auto both = parseRouteMessages(v6.data(), v6.size());
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(pickDefaultRoute(both)->gateway, "fe80::2");
    both.insert(both.end(), routes.begin(), routes.end());
    EXPECT_EQ(pickDefaultRoute(both)->gateway, "10.0.0.1");

    // A tunnel's half of the address space (OpenVPN) and a default route of another table
    // (wg-quick) carry traffic too, but the primary route is the main table's default.
    std::vector<std::uint8_t> halves;
    appendRoute(halves, 1, "10.8.0.1", 0);
    auto carrying = parseRouteMessages(halves.data(), halves.size());
    carrying.insert(carrying.end(), both.begin(), both.end());
    std::vector<std::string> gateways;
    for (const auto& route : defaultRoutesOf(carrying))
        gateways.push_back(route.gateway);
    EXPECT_EQ(gateways, (std::vector<std::string>{"10.8.0.1", "fe80::1", "fe80::2", "192.168.1.1",
                                                  "10.0.0.1", "172.16.0.1"}))
        << "not the /24 subnet";
    EXPECT_EQ(pickDefaultRoute(carrying)->gateway, "10.0.0.1");
}

TEST(RouteParse, TruncatedMessagesAreDroppedNotOverread) {
    std::vector<std::uint8_t> buffer;
    appendRoute(buffer, 0, "10.0.0.1", 1);
    appendRoute(buffer, 0, "10.0.0.2", 0);
    for (std::size_t cut = 0; cut < buffer.size(); ++cut) {
        auto routes = parseRouteMessages(buffer.data(), cut);
        EXPECT_LE(routes.size(), 1u);
    }
    // A header that claims more than the buffer holds.
    nlmsghdr header{};
    header.nlmsg_len = 4096;
    header.nlmsg_type = RTM_NEWROUTE;
    EXPECT_TRUE(parseRouteMessages(&header, sizeof header).empty());
}

TEST(ResolvConf, NameServersInOrder) {
    EXPECT_EQ(parseResolvConf(
                  "# generated\nsearch example.org\nnameserver 10.0.0.53\n"
                  "nameserver   fe80::1%eth0\nnameserver\nnameserver bad;rm\noptions edns0\n"),
              (std::vector<std::string>{"10.0.0.53", "fe80::1%eth0"}));
    EXPECT_TRUE(parseResolvConf("").empty());
}

TEST(ResolvConf, StubResolverPointsToTheUpstreamFile) {
    vigil::test::TempTree tree;
    HostConfig config(tree.root);
    EXPECT_EQ(config.nameServers().outcome, Outcome::absent);
    tree.write("etc/resolv.conf", "nameserver 127.0.0.53\noptions edns0 trust-ad\n");
    EXPECT_EQ(config.nameServers().value, std::vector<std::string>{"127.0.0.53"});
    tree.write("run/systemd/resolve/resolv.conf", "nameserver 192.0.2.1\nnameserver 192.0.2.2\n");
    EXPECT_EQ(config.nameServers().value, (std::vector<std::string>{"192.0.2.1", "192.0.2.2"}));
}
