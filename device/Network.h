#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dormane {

// Results of the network test, as the wizard posts them.
inline constexpr int kNetworkAlive = 48;
inline constexpr int kNetworkDown = 52;

// One address of one network interface, as getifaddrs lists it.
struct NetInterface {
    std::string name;
    unsigned flags = 0; // IFF_* of the interface
    int family = 0;     // address family of this entry (AF_INET, AF_INET6, AF_PACKET, ...); 0: none
};

// Fills the list with the interfaces of the machine; returns 1, or 0 when they cannot be listed.
using NetInterfaceSource = std::function<int(std::vector<NetInterface>&)>;

// The pure test: some interface other than loopback is up and running and has an IPv4 or IPv6
// address. A local network without a route to the internet passes.
int IsNetworkAliveIn(const std::vector<NetInterface>& interfaces);

// The machine's interfaces through getifaddrs.
int ListNetInterfaces(std::vector<NetInterface>& out);

// Replaces the source IsNetworkAlive asks (a test's fake); an empty source restores getifaddrs.
void SetNetInterfaceSource(NetInterfaceSource source);

// 48 when a network is up, 52 when none is or the interfaces cannot be listed.
int IsNetworkAlive();

} // namespace dormane
