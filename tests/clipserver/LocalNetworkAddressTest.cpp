#include "net/LocalNetworkAddress.h"

#include <QHostAddress>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

namespace pealix::net {
namespace {

constexpr unsigned up = IFF_UP | IFF_RUNNING;

InterfaceAddress v4(const char *name, const char *address, unsigned flags = up)
{
    return {QString::fromLatin1(name), flags, AF_INET, QString::fromLatin1(address)};
}

TEST(LocalNetworkAddress, ChoosesAnUsableIPv4AddressEn0First)
{
    const std::pair<std::vector<InterfaceAddress>, std::optional<QString>> rows[] = {
        {{v4("en1", "192.168.1.5"), v4("en0", "10.0.0.7")}, "10.0.0.7"},
        {{v4("wlp2s0", "192.168.1.5"), v4("enp3s0", "10.0.0.7")}, "10.0.0.7"},
        {{v4("wlp2s0", "192.168.1.5"), v4("docker0", "172.17.0.1")}, "192.168.1.5"},
        // "en0" must match exactly, not as a prefix.
        {{v4("en0s1", "10.0.0.1"), v4("en0", "10.0.0.2")}, "10.0.0.2"},
        {{v4("en0", "169.254.3.4")}, std::nullopt},
        {{}, std::nullopt},
        {{v4("lo", "127.0.0.1", up | IFF_LOOPBACK),
          v4("en0", "10.0.0.9", IFF_RUNNING), // down
          {QStringLiteral("en0"), up, AF_INET6, QStringLiteral("fe80::1")},
          {QStringLiteral("en0"), up, AF_INET, QString()}, // no address
          v4("en1", "169.254.7.7"),
          v4("wlan0", "192.168.0.20")},
         "192.168.0.20"},
    };
    for (const auto &[interfaces, expected] : rows)
        EXPECT_EQ(chooseLocalNetworkAddress(interfaces), expected) << expected.value_or("none").toStdString();

    // This machine's own answer, if it has one, is of the same kind.
    if (const std::optional<QString> address = localNetworkAddress()) {
        QHostAddress parsed;
        ASSERT_TRUE(parsed.setAddress(*address)) << address->toStdString();
        EXPECT_EQ(parsed.protocol(), QAbstractSocket::IPv4Protocol);
        EXPECT_FALSE(parsed.isLoopback());
        EXPECT_FALSE(address->startsWith(QLatin1String("169.254")));
    }
}

} // namespace
} // namespace pealix::net
