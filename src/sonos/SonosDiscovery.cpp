#include "sonos/SonosDiscovery.h"

#include "net/MulticastGroup.h"
#include "net/WhenAll.h"
#include "sonos/SsdpReply.h"

#include <QDeadlineTimer>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <vector>

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

// Shared by the workers of one round of description fetches.
struct SonosDiscovery::Batch
{
    QStringList locations;
    std::vector<std::optional<Speaker>> speakers; // by location index
    qsizetype next = 0;
    bool expired = false;
    sonos::HttpLimits limits;
    // Owns the fetches in flight: deleting it aborts them all at once.
    QPointer<QObject> requests;
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
    // One deadline for the whole scan, counted from now, so neither a late
    // window nor slow devices can stretch it.
    const QDeadlineTimer deadline(windowLength(timeoutSeconds) + m_options.descriptionTime, Qt::PreciseTimer);
    const QStringList locations = co_await findLocations(timeoutSeconds);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
    if (!self || locations.isEmpty() || left <= std::chrono::milliseconds{0})
        co_return QList<Speaker>();
    co_return co_await self->fetchSpeakers(locations, left);
}

QCoro::Task<QList<Speaker>> SonosDiscovery::fetchSpeakers(QStringList locations,
                                                          std::chrono::milliseconds time)
{
    auto batch = std::make_shared<Batch>();
    batch->locations = std::move(locations);
    batch->speakers.resize(static_cast<size_t>(batch->locations.size()));
    batch->limits = descriptionLimits(time);
    auto *requests = new QObject(this);
    batch->requests = requests;
    QTimer::singleShot(time, Qt::PreciseTimer, requests, [batch] {
        batch->expired = true;
        batch->requests->deleteLater();
    });

    std::vector<QCoro::Task<>> workers;
    const qsizetype workerCount =
        std::min<qsizetype>(std::max(m_options.maxConcurrentFetches, 1), batch->locations.size());
    for (qsizetype i = 0; i < workerCount; ++i)
        workers.push_back(fetchWorker(batch));
    co_await net::whenAll(std::move(workers));
    // Only the batch is touched from here on: this object may be gone.
    delete batch->requests.data();

    QList<Speaker> speakers;
    QSet<QString> ids;
    for (const std::optional<Speaker> &speaker : batch->speakers) {
        if (speaker && !ids.contains(speaker->id)) {
            ids.insert(speaker->id);
            speakers.append(*speaker);
        }
    }
    co_return speakers;
}

QCoro::Task<> SonosDiscovery::fetchWorker(std::shared_ptr<Batch> batch)
{
    while (!batch->expired && batch->requests && batch->next < batch->locations.size()) {
        const qsizetype index = batch->next++;
        const QString location = batch->locations.at(index);
        batch->speakers[static_cast<size_t>(index)] =
            co_await fetchDescription(location, batch->limits, batch->requests);
    }
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
    // A precise timer: a coarse one may end a window of seconds some
    // hundredths early, and replies still on their way would be lost.
    QTimer::singleShot(windowLength(timeoutSeconds), Qt::PreciseTimer, group, [this, group, windowEnd] {
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
    return fetchDescription(std::move(location), descriptionLimits(m_options.descriptionTime), this);
}

sonos::HttpLimits SonosDiscovery::descriptionLimits(std::chrono::milliseconds time) const
{
    sonos::HttpLimits limits;
    limits.idleTimeout = time;
    limits.totalTimeout = time;
    limits.maxBodyBytes = m_options.maxDescriptionBytes;
    limits.followRedirects = true;
    return limits;
}

QCoro::Task<std::optional<Speaker>>
SonosDiscovery::fetchDescription(QString location, sonos::HttpLimits limits, QPointer<QObject> owner)
{
    const QUrl url(location, QUrl::StrictMode);
    // Only plain web locations: a reply naming a local file or any other
    // scheme must never make this process read it.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        co_return std::nullopt;
    const sonos::HttpResult result =
        co_await sonos::httpExchange(QNetworkRequest(url), std::nullopt, limits, owner);
    if (!result.answered)
        co_return std::nullopt;
    co_return sonos::speakerFromDescription(location, QString::fromUtf8(result.body));
}

} // namespace pealix
