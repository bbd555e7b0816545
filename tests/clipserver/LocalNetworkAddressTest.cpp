#include "net/LocalNetworkAddress.h"

#include <QHostAddress>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

namespace pealix::net {
namespace {

using namespace Qt::StringLiterals;

InterfaceAddress v4(const QString &name, const QString &address, unsigned flags = IFF_UP | IFF_RUNNING)
{
    return {name, flags, AF_INET, address};
}

TEST(LocalNetworkAddress, ChoosesAnUsableIPv4AddressEn0First)
{
    const std::pair<std::vector<InterfaceAddress>, std::optional<QString>> rows[] = {
        {{v4(u"en1"_s, u"192.168.1.5"_s), v4(u"en0"_s, u"10.0.0.7"_s)}, u"10.0.0.7"_s},
        {{v4(u"wlp2s0"_s, u"192.168.1.5"_s), v4(u"enp3s0"_s, u"10.0.0.7"_s)}, u"10.0.0.7"_s},
        {{v4(u"en0s1"_s, u"10.0.0.1"_s), v4(u"en0"_s, u"10.0.0.2"_s)}, u"10.0.0.2"_s}, // en0 exactly
        {{v4(u"en0"_s, u"169.254.3.4"_s)}, std::nullopt},
        {{v4(u"lo"_s, u"127.0.0.1"_s, IFF_UP | IFF_LOOPBACK), v4(u"en0"_s, u"10.0.0.9"_s, IFF_RUNNING),
          {u"en0"_s, IFF_UP, AF_INET6, u"fe80::1"_s}, v4(u"en0"_s, {}), v4(u"en1"_s, u"169.254.7.7"_s),
          v4(u"wlan0"_s, u"192.168.0.20"_s), v4(u"docker0"_s, u"172.17.0.1"_s)},
         u"192.168.0.20"_s},
    };
    for (const auto &[interfaces, expected] : rows)
        EXPECT_EQ(chooseLocalNetworkAddress(interfaces), expected) << expected.value_or(u"none"_s).toStdString();

    // This machine's own answer, if it has one, is of the same kind.
    if (const std::optional<QString> address = localNetworkAddress()) {
        const QHostAddress parsed(*address);
        EXPECT_EQ(parsed.protocol(), QAbstractSocket::IPv4Protocol) << address->toStdString();
        EXPECT_FALSE(parsed.isLoopback() || address->startsWith(u"169.254"));
    }
}

} // namespace
} // namespace pealix::net
