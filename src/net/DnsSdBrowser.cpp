#include "net/DnsSdBrowser.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QPointer>

namespace pealix::net {

namespace {

const QString AvahiService = QStringLiteral("org.freedesktop.Avahi");
const QString ServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
// Avahi 0.7 and later: a browser is made idle and started once we listen, so no
// item can be announced before our subscription exists.
const QString Server2Interface = QStringLiteral("org.freedesktop.Avahi.Server2");
const QString BrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");

constexpr int AnyInterface = -1;
constexpr int AnyProtocol = -1;
constexpr int IPv4 = 0;
constexpr int CallTimeoutMs = 10'000;
// Items of other clients' browsers may arrive while we wait for our path; keep a bounded number.
constexpr qsizetype MaxEarlyItems = 256;

QDBusMessage avahiCall(const QString &path, const QString &interface, const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(AvahiService, path, interface, method);
    // Never start a daemon by asking it something: a missing avahi means "nothing found".
    call.setAutoStartService(false);
    return call;
}

void freeBrowser(QDBusConnection bus, const QString &path)
{
    bus.send(avahiCall(path, BrowserInterface, QStringLiteral("Free")));
}

bool isUnknownMethod(const QDBusMessage &reply)
{
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface");
}

QString objectPath(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return {};
    return reply.arguments().constFirst().value<QDBusObjectPath>().path();
}

} // namespace

DnsSdBrowser::DnsSdBrowser(const QString &type, QDBusConnection bus, QObject *parent)
    : ServiceBrowser(parent), m_type(type), m_bus(std::move(bus))
{
}

DnsSdBrowser::~DnsSdBrowser()
{
    cancel();
}

void DnsSdBrowser::start()
{
    if (m_state != State::Idle)
        return;
    m_state = State::Creating;
    createWithPrepare();
}

void DnsSdBrowser::cancel()
{
    if (m_state == State::Cancelled)
        return;
    m_state = State::Cancelled;
    if (m_anyPath)
        unsubscribe(QString());
    else if (!m_path.isEmpty())
        unsubscribe(m_path);
    if (!m_path.isEmpty())
        freeBrowser(m_bus, m_path);
    m_early.clear();
}

void DnsSdBrowser::createWithPrepare()
{
    QDBusMessage call =
        avahiCall(QStringLiteral("/"), Server2Interface, QStringLiteral("ServiceBrowserPrepare"));
    call << AnyInterface << AnyProtocol << m_type << QString() << 0u;
    // The watcher outlives us (the application holds it): if we are gone when
    // the daemon answers, the browser it made for us is freed instead of left
    // behind; at exit it goes with the application.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), QCoreApplication::instance());
    QPointer<DnsSdBrowser> self(this);
    QDBusConnection bus = m_bus;
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [self, bus, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        const QString path = objectPath(reply);
        if (releaseIfAbandoned(self, bus, path))
            return;
        if (path.isEmpty()) {
            if (isUnknownMethod(reply))
                self->createWithNew();
            return;
        }
        self->subscribe(path);
        self->adoptBrowser(path);
        self->m_bus.send(avahiCall(path, BrowserInterface, QStringLiteral("Start")));
    });
}

void DnsSdBrowser::createWithNew()
{
    // Older daemons start browsing at creation and may announce items before
    // the reply tells us our path: listen to every browser first, sort out later.
    subscribe(QString());
    m_anyPath = true;
    QDBusMessage call = avahiCall(QStringLiteral("/"), ServerInterface, QStringLiteral("ServiceBrowserNew"));
    call << AnyInterface << AnyProtocol << m_type << QString() << 0u;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), QCoreApplication::instance());
    QPointer<DnsSdBrowser> self(this);
    QDBusConnection bus = m_bus;
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [self, bus, watcher] {
        watcher->deleteLater();
        const QString path = objectPath(watcher->reply());
        if (releaseIfAbandoned(self, bus, path))
            return;
        if (!path.isEmpty())
            self->adoptBrowser(path);
    });
}

bool DnsSdBrowser::releaseIfAbandoned(const QPointer<DnsSdBrowser> &self, QDBusConnection bus,
                                      const QString &path)
{
    if (self && self->m_state == State::Creating)
        return false;
    if (!path.isEmpty())
        freeBrowser(std::move(bus), path);
    return true;
}

void DnsSdBrowser::adoptBrowser(const QString &path)
{
    m_path = path;
    m_state = State::Browsing;
    const QList<QDBusMessage> early = std::exchange(m_early, {});
    for (const QDBusMessage &message : early) {
        if (m_state != State::Browsing)
            return; // a receiver cancelled us
        if (message.path() == m_path)
            handleItemNew(message);
    }
}

void DnsSdBrowser::subscribe(const QString &path)
{
    m_bus.connect(AvahiService, path, BrowserInterface, QStringLiteral("ItemNew"), this,
                  SLOT(onBrowserSignal(QDBusMessage)));
}

void DnsSdBrowser::unsubscribe(const QString &path)
{
    m_bus.disconnect(AvahiService, path, BrowserInterface, QStringLiteral("ItemNew"), this,
                     SLOT(onBrowserSignal(QDBusMessage)));
}

void DnsSdBrowser::onBrowserSignal(const QDBusMessage &message)
{
    if (m_state == State::Cancelled)
        return;
    if (m_path.isEmpty()) {
        if (m_anyPath && m_early.size() < MaxEarlyItems)
            m_early << message;
        return;
    }
    if (message.path() == m_path)
        handleItemNew(message);
}

void DnsSdBrowser::handleItemNew(const QDBusMessage &message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() != 6 || args[0].typeId() != QMetaType::Int || args[1].typeId() != QMetaType::Int ||
        args[2].typeId() != QMetaType::QString || args[3].typeId() != QMetaType::QString ||
        args[4].typeId() != QMetaType::QString)
        return;
    Q_EMIT serviceFound(BrowsedService{args[0].toInt(), args[1].toInt(), args[2].toString(),
                                       args[3].toString(), args[4].toString()});
}

void DnsSdBrowser::resolve(const BrowsedService &service, QObject *context, ResolveDone done)
{
    QDBusMessage call = avahiCall(QStringLiteral("/"), ServerInterface, QStringLiteral("ResolveService"));
    // IPv4 only: the speakers fetch the clip from an IPv4 URL anyway, and the
    // daemon reports IPv6 link-local addresses without the zone needed to reach them.
    call << service.interfaceIndex << service.protocol << service.name << service.type << service.domain
         << IPv4 << 0u;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), context);
    // Bound to `context`, not to us: the browser may be dropped while resolutions run.
    connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(parseResolveReply(watcher->reply()));
    });
}

std::optional<ResolvedService> DnsSdBrowser::parseResolveReply(const QDBusMessage &reply)
{
    // interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags
    const QList<QVariant> args = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || args.size() != 11)
        return std::nullopt;
    if (args[7].typeId() != QMetaType::QString || args[8].typeId() != QMetaType::UShort)
        return std::nullopt;
    ResolvedService resolved;
    resolved.host = args[7].toString();
    resolved.port = args[8].value<quint16>();
    if (resolved.host.isEmpty())
        return std::nullopt;
    if (args[9].canConvert<QDBusArgument>()) {
        const QDBusArgument txt = args[9].value<QDBusArgument>();
        if (txt.currentSignature() == QLatin1String("aay"))
            txt >> resolved.txt;
    }
    return resolved;
}

} // namespace pealix::net
