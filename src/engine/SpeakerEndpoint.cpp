#include "engine/SpeakerEndpoint.h"

#include "net/OneShot.h"

#include <QHostInfo>
#include <QObject>
#include <QTimer>

#include <memory>

namespace pealix {

namespace {

std::optional<QHostAddress> ipv4(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 value = address.toIPv4Address(&isIPv4); // ::ffff:a.b.c.d counts
    return isIPv4 ? std::optional(QHostAddress(value)) : std::nullopt;
}

SpeakerEndpoint endpointFor(QList<QHostAddress> addresses, const BroadcasterSetup::LocalAddressFor &choose)
{
    SpeakerEndpoint endpoint;
    endpoint.addresses = std::move(addresses);
    endpoint.localAddress = choose(endpoint.addresses.value(0));
    return endpoint;
}

QCoro::Task<QList<QHostAddress>> lookUp(QString name)
{
    net::OneShot<QList<QHostAddress>> found;
    // The context object ends the callbacks with this coroutine's wait.
    auto context = std::make_unique<QObject>();
    const int id = QHostInfo::lookupHost(name, context.get(), [found](const QHostInfo &info) {
        QList<QHostAddress> addresses;
        for (const QHostAddress &address : info.addresses()) {
            if (const auto v4 = ipv4(address); v4 && !addresses.contains(*v4))
                addresses << *v4;
        }
        found.complete(addresses);
    });
    QTimer::singleShot(SpeakerEndpoint::lookupLimit, context.get(), [found] { found.complete({}); });
    QList<QHostAddress> addresses = co_await found;
    QHostInfo::abortHostLookup(id);
    co_return addresses;
}

} // namespace

QString SpeakerEndpoint::clipUrl(quint16 port) const
{
    if (!localAddress)
        return {};
    // Every path serves the clip; this one names what it is.
    return QStringLiteral("http://") + *localAddress + QLatin1Char(':') + QString::number(port) +
           QStringLiteral("/clip.m4a");
}

SpeakerEndpoint SpeakerEndpoint::reachNow(const QString &host,
                                          const BroadcasterSetup::LocalAddressFor &choose)
{
    QList<QHostAddress> addresses;
    if (const auto v4 = ipv4(QHostAddress(host)))
        addresses << *v4;
    return endpointFor(std::move(addresses), choose);
}

QCoro::Task<SpeakerEndpoint> SpeakerEndpoint::reach(QString host, BroadcasterSetup::LocalAddressFor choose)
{
    const QHostAddress literal(host);
    if (!literal.isNull() || host.trimmed().isEmpty())
        co_return reachNow(host, choose);
    co_return endpointFor(co_await lookUp(host), choose);
}

} // namespace pealix
