#include "net/LocalNetworkAddress.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

namespace pealix::net {

std::optional<QString> chooseLocalNetworkAddress(const std::vector<InterfaceAddress> &interfaces)
{
    std::vector<const InterfaceAddress *> usable;
    for (const InterfaceAddress &entry : interfaces) {
        if (!(entry.flags & IFF_UP) || (entry.flags & IFF_LOOPBACK))
            continue;
        if (entry.family != AF_INET || entry.address.isEmpty())
            continue;
        if (entry.address.startsWith(QLatin1String("169.254")))
            continue;
        usable.push_back(&entry);
    }
    for (const InterfaceAddress *entry : usable) {
        if (entry->name == QLatin1String("en0"))
            return entry->address;
    }
    for (const InterfaceAddress *entry : usable) {
        if (entry->name.startsWith(QLatin1String("en")))
            return entry->address;
    }
    if (usable.empty())
        return std::nullopt;
    return usable.front()->address;
}

std::optional<QString> localNetworkAddress()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0 || list == nullptr)
        return std::nullopt;
    std::vector<InterfaceAddress> interfaces;
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr)
            continue;
        InterfaceAddress item;
        item.name = QString::fromLocal8Bit(entry->ifa_name);
        item.flags = entry->ifa_flags;
        item.family = entry->ifa_addr->sa_family;
        if (item.family == AF_INET) {
            char host[NI_MAXHOST] = {};
            if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof(host), nullptr, 0,
                            NI_NUMERICHOST)
                != 0)
                continue;
            item.address = QString::fromLatin1(host);
        }
        interfaces.push_back(std::move(item));
    }
    freeifaddrs(list);
    return chooseLocalNetworkAddress(interfaces);
}

} // namespace pealix::net
