#include "net/LocalNetworkAddress.h"

#include <QHostAddress>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

namespace pealix::net {
namespace {

InterfaceAddress v4(const char *name, const char *address, unsigned flags = IFF_UP | IFF_RUNNING)
{
    return {QString::fromLatin1(name), flags, AF_INET, QString::fromLatin1(address)};
}

TEST(LocalNetworkAddress, ChoosesAnUsableIPv4AddressEn0First)
{
    const std::pair<std::vector<InterfaceAddress>, const char *> rows[] = {
        {{v4("en1", "192.168.1.5"), v4("en0", "10.0.0.7")}, "10.0.0.7"},
        {{v4("wlp2s0", "192.168.1.5"), v4("enp3s0", "10.0.0.7")}, "10.0.0.7"},
        {{v4("en0s1", "10.0.0.1"), v4("en0", "10.0.0.2")}, "10.0.0.2"}, // "en0" exactly, not as a prefix
        {{v4("en0", "169.254.3.4")}, nullptr},
        // Loopback, down, IPv6, address-less and link-local entries are all passed over.
        {{v4("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK),
          v4("en0", "10.0.0.9", IFF_RUNNING),
          {QStringLiteral("en0"), IFF_UP, AF_INET6, QStringLiteral("fe80::1")},
          v4("en0", ""),
          v4("en1", "169.254.7.7"),
          v4("wlan0", "192.168.0.20"),
          v4("docker0", "172.17.0.1")},
         "192.168.0.20"},
    };
    for (const auto &[interfaces, expected] : rows)
        EXPECT_EQ(chooseLocalNetworkAddress(interfaces).value_or(QString()), QString::fromLatin1(expected));

    // This machine's own answer, if it has one, is of the same kind.
    if (const std::optional<QString> address = localNetworkAddress()) {
        const QHostAddress parsed(*address);
        EXPECT_EQ(parsed.protocol(), QAbstractSocket::IPv4Protocol) << address->toStdString();
        EXPECT_FALSE(parsed.isLoopback() || address->startsWith(u"169.254"));
    }
}

} // namespace
} // namespace pealix::net
