#pragma once

#include "model/Speaker.h"
#include "net/OneShot.h"
#include "sonos/HttpExchange.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace pealix {

namespace net {
class MulticastGroup;
}

// Finds Sonos players: one SSDP search for zone players, a fixed listening
// window, then the players' device descriptions, several at a time under one
// deadline, so a scan has a known end whatever the devices do. Made for one
// scan and dropped afterwards; lives on the main thread's event loop.
// Destroying it ends a search in progress with what it has collected and
// aborts the description fetches at once.
class SonosDiscovery : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Descriptions must have arrived this long after the listening window
        // ends; a player whose description is later is left out of the scan.
        // A lone fetchSpeaker() gets as long.
        std::chrono::milliseconds descriptionTime{2000};
        // Descriptions read at the same time.
        int maxConcurrentFetches = 8;
        // Descriptions larger than this are not read.
        qint64 maxDescriptionBytes = 1024 * 1024;
        // Locations beyond this many within one window are ignored.
        int maxLocations = 256;
    };

    explicit SonosDiscovery(QObject *parent = nullptr);
    explicit SonosDiscovery(Options options, QObject *parent = nullptr);
    ~SonosDiscovery() override;

    // The players found, unique by id; of two records with one id, the one
    // whose location arrived first wins. Ends by the window plus
    // descriptionTime.
    QCoro::Task<QList<Speaker>> discover(double timeoutSeconds);

    // Distinct accepted location texts in the order they first arrived. Always
    // lasts the whole window unless no socket could be had.
    QCoro::Task<QStringList> findLocations(double timeoutSeconds);

    // The player a description URL describes, or nothing.
    QCoro::Task<std::optional<Speaker>> fetchSpeaker(QString location);

private:
    struct Search;
    struct Batch;

    // Fetches every location's description, at most maxConcurrentFetches at a
    // time, and gives up on those still out after `time`.
    QCoro::Task<QList<Speaker>> fetchSpeakers(QStringList locations, std::chrono::milliseconds time);
    static QCoro::Task<> fetchWorker(std::shared_ptr<Batch> batch);
    static QCoro::Task<std::optional<Speaker>> fetchDescription(QString location, sonos::HttpLimits limits,
                                                                QPointer<QObject> owner);
    sonos::HttpLimits descriptionLimits(std::chrono::milliseconds time) const;

    Options m_options;
    QPointer<net::MulticastGroup> m_group;
    std::optional<net::OneShot<bool>> m_windowEnd;
};

} // namespace pealix
