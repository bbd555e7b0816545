// The clip URL's address inside a namespace built by routed-address.sh: each
// speaker gets the address of ours that its own network reaches, whatever the
// interfaces are called.
#include "engine/SpeakerEndpoint.h"
#include "net/LocalNetworkAddress.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

TEST(RoutedAddress, EachSpeakerGetsTheAddressItsNetworkReaches)
{
    PEALIX_REQUIRE(qEnvironmentVariable("PEALIX_ADDRESS_SANDBOX") == u"1"_s,
                   "runs only in the namespace routed-address.sh builds");

    // The interface-name rule alone picks the wired link's address for every speaker.
    ASSERT_EQ(net::localNetworkAddress().value_or(QString()), u"10.20.0.10"_s);

    const std::pair<const char *, const char *> rows[] = {
        {"192.168.50.77", "192.168.50.10"}, // a speaker on the Wi-Fi
        {"10.20.0.77", "10.20.0.10"},       // one on the wired link
        {"203.0.113.5", "192.168.50.10"},   // beyond the default route
        {"172.17.0.2", "172.17.0.1"},       // a container: docker0 is the way there
    };
    for (const auto &[speaker, expected] : rows) {
        EXPECT_EQ(net::routedLocalAddress(QHostAddress(QLatin1String(speaker))).value_or(QString()),
                  QLatin1String(expected))
            << speaker;
        const SpeakerEndpoint endpoint = QCoro::waitFor(SpeakerEndpoint::reach(
            QLatin1String(speaker), [](const QHostAddress &host) { return net::localAddressFor(host); }));
        EXPECT_EQ(endpoint.clipUrl(41234), u"http://%1:41234/clip.m4a"_s.arg(QLatin1String(expected)))
            << speaker;
    }

    // Where the route's own address could not be reached from elsewhere, the name rule decides.
    const std::pair<const char *, const char *> fallbacks[] = {
        {"169.254.20.20", "link-local"}, {"127.0.0.1", "loopback"}, {"::ffff:127.0.0.1", "mapped loopback"}};
    for (const auto &[speaker, situation] : fallbacks) {
        const QHostAddress address{QLatin1String(speaker)};
        EXPECT_FALSE(net::routedLocalAddress(address)) << situation;
        EXPECT_EQ(net::localAddressFor(address).value_or(QString()), u"10.20.0.10"_s) << situation;
    }
    // A mapped IPv4 address routes like the address itself.
    EXPECT_EQ(net::routedLocalAddress(QHostAddress(u"::ffff:10.20.0.99"_s)).value_or(QString()),
              u"10.20.0.10"_s);
    EXPECT_FALSE(net::routedLocalAddress(QHostAddress(u"2001:db8::1"_s)));
    EXPECT_FALSE(net::routedLocalAddress(QHostAddress()));
}

} // namespace
