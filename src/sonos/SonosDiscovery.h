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
#include <optional>

namespace pealix {

namespace net {
class MulticastGroup;
}

// Finds Sonos players: one SSDP search for zone players, a fixed listening
// window, then each player's device description, one after another. Made for
// one scan and dropped afterwards; lives on the main thread's event loop.
// Destroying it ends a search in progress with what it has collected and
// aborts a description fetch at once.
class SonosDiscovery : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Each description fetch ends after this long in all.
        std::chrono::milliseconds descriptionTimeout{60000};
        // Descriptions larger than this are not read.
        qint64 maxDescriptionBytes = 1024 * 1024;
        // Locations beyond this many within one window are ignored.
        int maxLocations = 256;
    };

    explicit SonosDiscovery(QObject *parent = nullptr);
    explicit SonosDiscovery(Options options, QObject *parent = nullptr);
    ~SonosDiscovery() override;

    // The players found, unique by id; the first record of an id wins.
    QCoro::Task<QList<Speaker>> discover(double timeoutSeconds);

    // Distinct accepted location texts in the order they first arrived. Always
    // lasts the whole window unless no socket could be had.
    QCoro::Task<QStringList> findLocations(double timeoutSeconds);

    // The player a description URL describes, or nothing.
    QCoro::Task<std::optional<Speaker>> fetchSpeaker(QString location);

private:
    struct Search;

    Options m_options;
    QPointer<net::MulticastGroup> m_group;
    std::optional<net::OneShot<bool>> m_windowEnd;
};

} // namespace pealix
