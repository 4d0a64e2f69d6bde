#include "Network.h"

#include <ifaddrs.h>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace dormane {

namespace {

std::mutex g_sourceMutex;
NetInterfaceSource g_source;

class InterfaceList {
public:
    InterfaceList() { m_ok = getifaddrs(&m_list) == 0; }
    ~InterfaceList() {
        if (m_ok)
            freeifaddrs(m_list);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    bool Ok() const { return m_ok; }
    const ifaddrs* First() const { return m_ok ? m_list : nullptr; }

private:
    ifaddrs* m_list = nullptr;
    bool m_ok = false;
};

} // namespace

int IsNetworkAliveIn(const std::vector<NetInterface>& interfaces) {
    for (const auto& entry : interfaces) {
        const bool usable =
            (entry.flags & IFF_UP) && (entry.flags & IFF_RUNNING) && !(entry.flags & IFF_LOOPBACK);
        if (usable && (entry.family == AF_INET || entry.family == AF_INET6))
            return kNetworkAlive;
    }
    return kNetworkDown;
}

int ListNetInterfaces(std::vector<NetInterface>& out) {
    InterfaceList list;
    if (!list.Ok())
        return 0;
    out.clear();
    for (const ifaddrs* it = list.First(); it != nullptr; it = it->ifa_next) {
        NetInterface entry;
        entry.name = it->ifa_name != nullptr ? it->ifa_name : "";
        entry.flags = it->ifa_flags;
        entry.family = it->ifa_addr != nullptr ? it->ifa_addr->sa_family : 0;
        out.push_back(std::move(entry));
    }
    return 1;
}

void SetNetInterfaceSource(NetInterfaceSource source) {
    std::lock_guard lock(g_sourceMutex);
    g_source = std::move(source);
}

int IsNetworkAlive() {
    NetInterfaceSource source;
    {
        std::lock_guard lock(g_sourceMutex);
        source = g_source;
    }
    std::vector<NetInterface> interfaces;
    const int listed = source ? source(interfaces) : ListNetInterfaces(interfaces);
    return listed ? IsNetworkAliveIn(interfaces) : kNetworkDown;
}

} // namespace dormane
