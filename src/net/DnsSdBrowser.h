#pragma once

#include "net/ServiceBrowser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QPointer>
#include <QString>

namespace pealix::net {

// DNS-SD through avahi-daemon's D-Bus interface. Every D-Bus call is
// asynchronous; without a bus or without avahi-daemon the browse finds nothing.
class DnsSdBrowser : public ServiceBrowser
{
    Q_OBJECT

public:
    // `type` such as "_googlecast._tcp", browsed in the default domain on every interface.
    explicit DnsSdBrowser(const QString &type, QDBusConnection bus = QDBusConnection::systemBus(),
                          QObject *parent = nullptr);
    ~DnsSdBrowser() override;

    void start() override;
    void cancel() override;
    // Resolves to an IPv4 address (see the .cpp for why).
    void resolve(const BrowsedService &service, QObject *context, ResolveDone done) override;

    // The parts of a ResolveService reply that a caller needs; nothing when the
    // reply is an error or does not have the expected shape.
    static std::optional<ResolvedService> parseResolveReply(const QDBusMessage &reply);

private Q_SLOTS:
    void onBrowserSignal(const QDBusMessage &message);

private:
    enum class State { Idle, Creating, Browsing, Cancelled };

    void createWithPrepare();
    void createWithNew();
    // True when `self` stopped waiting for the browser at `path` (gone or
    // cancelled); the daemon's browser is then freed rather than left behind.
    static bool releaseIfAbandoned(const QPointer<DnsSdBrowser> &self, QDBusConnection bus, const QString &path);
    void adoptBrowser(const QString &path);
    void subscribe(const QString &path);
    void unsubscribe(const QString &path);
    void handleItemNew(const QDBusMessage &message);

    QString m_type;
    QDBusConnection m_bus;
    State m_state = State::Idle;
    QString m_path;              // the daemon's browser object, once known
    bool m_anyPath = false;      // subscribed to every browser path (daemons without Prepare)
    QList<QDBusMessage> m_early; // items that arrived before the daemon told us our path
};

} // namespace pealix::net
