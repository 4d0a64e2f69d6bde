#include "Network.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

namespace dormane {
namespace {

constexpr unsigned kUpRunning = IFF_UP | IFF_RUNNING;

struct NetCase {
    const char* name;
    std::vector<NetInterface> interfaces;
    int result;
};

class NetworkTest : public ::testing::TestWithParam<NetCase> {};

TEST_P(NetworkTest, AliveOnlyWithAnAddressedInterfaceBeyondLoopback) {
    EXPECT_EQ(IsNetworkAliveIn(GetParam().interfaces), GetParam().result);
}

const NetCase kNetCases[] = {
    {"NoInterfaces", {}, kNetworkDown},
    {"LoopbackOnly",
     {{"lo", kUpRunning | IFF_LOOPBACK, AF_INET}, {"lo", kUpRunning | IFF_LOOPBACK, AF_INET6}},
     kNetworkDown},
    {"LinkWithoutIpAddress", {{"eth0", kUpRunning, AF_PACKET}}, kNetworkDown},
    {"EntryWithoutAddress", {{"tun0", kUpRunning, 0}}, kNetworkDown},
    {"UpButNoCarrier", {{"eth0", IFF_UP, AF_INET}}, kNetworkDown},
    {"AdministrativelyDown", {{"eth0", IFF_RUNNING, AF_INET}}, kNetworkDown},
    {"WiredIpv4", {{"eth0", kUpRunning, AF_INET}}, kNetworkAlive},
    {"WirelessIpv6Only", {{"wlan0", kUpRunning | IFF_MULTICAST, AF_INET6}}, kNetworkAlive},
    {"OneGoodAmongDeadOnes",
     {{"lo", kUpRunning | IFF_LOOPBACK, AF_INET},
      {"eth0", IFF_UP, AF_INET},
      {"wlan0", kUpRunning, AF_PACKET},
      {"wlan0", kUpRunning, AF_INET}},
     kNetworkAlive},
};

INSTANTIATE_TEST_SUITE_P(Table, NetworkTest, ::testing::ValuesIn(kNetCases),
                         [](const auto& info) { return std::string(info.param.name); });

class NetworkSource : public ::testing::Test {
protected:
    void TearDown() override { SetNetInterfaceSource(nullptr); }
};

TEST_F(NetworkSource, AsksTheReplacedSource) {
    int calls = 0;
    SetNetInterfaceSource([&calls](std::vector<NetInterface>& out) {
        ++calls;
        out = {{"eth0", kUpRunning, AF_INET}};
        return 1;
    });
    EXPECT_EQ(IsNetworkAlive(), kNetworkAlive);
    SetNetInterfaceSource([&calls](std::vector<NetInterface>& out) {
        ++calls;
        out = {{"lo", kUpRunning | IFF_LOOPBACK, AF_INET}};
        return 1;
    });
    EXPECT_EQ(IsNetworkAlive(), kNetworkDown);
    EXPECT_EQ(calls, 2);
}

TEST_F(NetworkSource, UnlistableInterfacesMeanNoNetwork) {
    // Whatever a failing source left in the list does not count.
    SetNetInterfaceSource([](std::vector<NetInterface>& out) {
        out = {{"eth0", kUpRunning, AF_INET}};
        return 0;
    });
    EXPECT_EQ(IsNetworkAlive(), kNetworkDown);
}

TEST(NetworkInterfaces, TheMachineListsItsLoopback) {
    std::vector<NetInterface> interfaces;
    ASSERT_EQ(ListNetInterfaces(interfaces), 1);
    bool loopback = false;
    for (const auto& entry : interfaces)
        loopback = loopback || ((entry.flags & IFF_LOOPBACK) && !entry.name.empty());
    EXPECT_TRUE(loopback);
}

} // namespace
} // namespace dormane
