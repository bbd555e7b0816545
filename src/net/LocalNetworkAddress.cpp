#include "net/LocalNetworkAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pealix::net {

namespace {

bool usableAddress(const QString &address)
{
    return !address.isEmpty() && !address.startsWith(QLatin1String("127.")) &&
           !address.startsWith(QLatin1String("169.254")) && address != QLatin1String("0.0.0.0");
}

} // namespace

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
                            NI_NUMERICHOST) != 0)
                continue;
            item.address = QString::fromLatin1(host);
        }
        interfaces.push_back(std::move(item));
    }
    freeifaddrs(list);
    return chooseLocalNetworkAddress(interfaces);
}

std::optional<QString> routedLocalAddress(const QHostAddress &remote)
{
    bool isIPv4 = false;
    const quint32 ip = remote.toIPv4Address(&isIPv4); // also unwraps ::ffff:a.b.c.d
    if (!isIPv4 || ip == 0)
        return std::nullopt;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9); // any port: connect() on UDP only picks the route
    peer.sin_addr.s_addr = htonl(ip);
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof(peer)) == 0 &&
                        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
                        local.sin_family == AF_INET;
    ::close(fd);
    if (!routed)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &local.sin_addr, text, sizeof(text)))
        return std::nullopt;
    const QString address = QString::fromLatin1(text);
    if (!usableAddress(address))
        return std::nullopt;
    return address;
}

std::optional<QString> localAddressFor(const QHostAddress &remote)
{
    if (std::optional<QString> routed = routedLocalAddress(remote))
        return routed;
    return localNetworkAddress();
}

} // namespace pealix::net
