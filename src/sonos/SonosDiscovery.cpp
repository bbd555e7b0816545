#include "sonos/SonosDiscovery.h"

#include "net/MulticastGroup.h"
#include "sonos/SsdpReply.h"

#include <QSet>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>

namespace pealix {

namespace {

const QHostAddress kSsdpGroup(QStringLiteral("239.255.255.250"));
constexpr quint16 kSsdpPort = 1900;

std::chrono::milliseconds windowLength(double seconds)
{
    // NaN and negative windows end at once; absurd ones are capped at a day.
    if (!(seconds > 0))
        return std::chrono::milliseconds{0};
    return std::chrono::milliseconds{static_cast<qint64>(std::min(seconds, 86400.0) * 1000.0)};
}

} // namespace

// Shared between the handlers of one search and the coroutine awaiting it.
struct SonosDiscovery::Search
{
    QStringList locations;
    QSet<QString> seen;
};

SonosDiscovery::SonosDiscovery(QObject *parent) : SonosDiscovery(Options{}, parent) {}

SonosDiscovery::SonosDiscovery(Options options, QObject *parent) : QObject(parent), m_options(options)
{
    setObjectName(QStringLiteral("org.pealix.Pealix.sonos.ssdp"));
}

SonosDiscovery::~SonosDiscovery()
{
    if (m_windowEnd)
        m_windowEnd->complete(true);
}

QCoro::Task<QList<Speaker>> SonosDiscovery::discover(double timeoutSeconds)
{
    QPointer<SonosDiscovery> self(this);
    const QStringList locations = co_await findLocations(timeoutSeconds);
    QList<Speaker> speakers;
    QSet<QString> ids;
    for (const QString &location : locations) {
        if (!self)
            break;
        const std::optional<Speaker> speaker = co_await self->fetchSpeaker(location);
        if (speaker && !ids.contains(speaker->id)) {
            ids.insert(speaker->id);
            speakers.append(*speaker);
        }
    }
    co_return speakers;
}

QCoro::Task<QStringList> SonosDiscovery::findLocations(double timeoutSeconds)
{
    auto *group = new net::MulticastGroup(kSsdpGroup, kSsdpPort, this);
    if (!group->open()) {
        delete group;
        co_return QStringList();
    }
    if (m_group) {
        m_group->cancel();
        m_group->deleteLater();
    }
    if (m_windowEnd)
        m_windowEnd->complete(true);
    m_group = group;

    auto search = std::make_shared<Search>();
    const int maxLocations = m_options.maxLocations;
    connect(group, &net::MulticastGroup::datagramReceived, group,
            [search, maxLocations](const QByteArray &datagram) {
                if (datagram.isEmpty())
                    return;
                for (const QString &location : sonos::sonosLocations(datagram)) {
                    if (search->seen.size() >= maxLocations)
                        return;
                    if (!search->seen.contains(location)) {
                        search->seen.insert(location);
                        search->locations.append(location);
                    }
                }
            });
    connect(group, &net::MulticastGroup::ready, group, [group] { group->send(sonos::kZonePlayerSearch); });

    const net::OneShot<bool> windowEnd;
    m_windowEnd = windowEnd;
    // The group is a child of this object, so the timer never outlives it;
    // if this object goes first, its destructor ends the window instead.
    QTimer::singleShot(windowLength(timeoutSeconds), group, [this, group, windowEnd] {
        group->cancel();
        group->deleteLater();
        if (m_group == group)
            m_group.clear();
        windowEnd.complete(true);
    });
    group->start();

    co_await windowEnd;
    co_return search->locations;
}

QCoro::Task<std::optional<Speaker>> SonosDiscovery::fetchSpeaker(QString location)
{
    const QUrl url(location, QUrl::StrictMode);
    // Only plain web locations: a reply naming a local file or any other
    // scheme must never make this process read it.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        co_return std::nullopt;

    sonos::HttpLimits limits;
    limits.idleTimeout = m_options.descriptionTimeout;
    limits.totalTimeout = m_options.descriptionTimeout;
    limits.maxBodyBytes = m_options.maxDescriptionBytes;
    limits.followRedirects = true;
    const sonos::HttpResult result =
        co_await sonos::httpExchange(QNetworkRequest(url), std::nullopt, limits, this);
    if (!result.answered)
        co_return std::nullopt;
    co_return sonos::speakerFromDescription(location, QString::fromUtf8(result.body));
}

} // namespace pealix
