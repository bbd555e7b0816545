#pragma once

#include "model/Speaker.h"
#include "net/OneShot.h"
#include "net/ServiceBrowser.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <optional>

namespace pealix {

// Finds the Cast devices on the local network by DNS-SD and turns each into a
// Speaker. Made for one discovery and dropped afterwards.
class ChromecastDiscovery : public QObject
{
    Q_OBJECT

public:
    static inline const QString ServiceType = QStringLiteral("_googlecast._tcp");
    static inline const QString BrowseName = QStringLiteral("org.pealix.Pealix.cast.browse");
    static inline const QString ResolveName = QStringLiteral("org.pealix.Pealix.cast.resolve");
    // Resolutions still running when the window closes get this much longer.
    static constexpr double GraceSeconds = 2.0;

    // Browses with avahi-daemon on the system bus.
    explicit ChromecastDiscovery(QObject *parent = nullptr);
    // Browses with `browser` (not yet started), which this object takes over.
    explicit ChromecastDiscovery(net::ServiceBrowser *browser, QObject *parent = nullptr);
    // A discovery still running ends with what it has collected.
    ~ChromecastDiscovery() override;

    // The speakers found, in no particular order, at the latest timeoutSeconds +
    // GraceSeconds after the call. Never fails; call it once per object.
    QCoro::Task<QList<Speaker>> discover(double timeoutSeconds);

    // Where `service` can be reached and what it announces; nothing when it cannot be resolved.
    QCoro::Task<std::optional<net::ResolvedService>> resolve(net::BrowsedService service);

    struct Identity
    {
        QString id;   // without the "cast:" prefix
        QString name; // the friendly name
    };
    // The TXT "id" and "fn" values when present and not empty, else the instance name.
    static Identity identify(const QString &instanceName, const net::ResolvedService &resolved);

    // A numeric address in its standard form without any "%zone" suffix; any
    // other text (a host name) as it is.
    static QString hostString(const QString &host);

private:
    struct Found
    {
        qint64 order; // when the browser first reported it
        Speaker speaker;
    };

    void handleService(const net::BrowsedService &service);
    QCoro::Task<> resolveAndCollect(net::BrowsedService service, qint64 order);
    void finishIfIdle();
    void finishDiscovery();

    QPointer<net::ServiceBrowser> m_browser;
    bool m_started = false;
    QHash<QString, Found> m_collected;
    QSet<QString> m_seenInstances;
    qint64 m_nextOrder = 0;
    int m_pending = 0;
    bool m_windowOver = false;
    bool m_finished = false;
    net::OneShot<QList<Speaker>> m_result;
};

} // namespace pealix
