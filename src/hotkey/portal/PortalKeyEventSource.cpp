#include "hotkey/portal/PortalKeyEventSource.h"

#include "hotkey/portal/PortalTrigger.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QSet>

#include <utility>

namespace pealix {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString RegistryInterface = QStringLiteral("org.freedesktop.host.portal.Registry");

// Response codes of a request: anything but success means no shortcut.
constexpr uint ResponseSuccess = 0;

// The a(sa{sv}) list of shortcuts: an id and its properties.
using Shortcuts = QList<std::pair<QString, QVariantMap>>;

// A connection may name its application once, before any other portal call.
QSet<QString> g_registeredConnections;

void registerTypes()
{
    static const bool registered = [] {
        // The element first: the list's signature is made from it.
        qDBusRegisterMetaType<Shortcuts::value_type>();
        qDBusRegisterMetaType<Shortcuts>();
        return true;
    }();
    Q_UNUSED(registered);
}

QString waitingProblem()
{
    return QStringLiteral("Waiting for the desktop to confirm the push-to-talk shortcut.");
}

} // namespace

PortalKeyEventSource::PortalKeyEventSource(QDBusConnection bus, QObject *parent)
    : KeyEventSource(parent), m_bus(std::move(bus))
{
    registerTypes();
}

PortalKeyEventSource::~PortalKeyEventSource()
{
    stop();
}

bool PortalKeyEventSource::start()
{
    stop();
    if (!m_bus.isConnected()) {
        m_state = State::Failed;
        setProblem(noGlobalHotkeyProblem());
        return false;
    }
    setProblem(waitingProblem());
    if (g_registeredConnections.contains(m_bus.name()))
        createSession();
    else
        registerApplication();
    return true;
}

void PortalKeyEventSource::stop()
{
    ++m_round;
    forgetRequest();
    watchSession(false);
    if (!m_sessionPath.isEmpty()) {
        // Fire and forget: the desktop drops the binding with the session.
        m_bus.send(QDBusMessage::createMethodCall(PortalService, m_sessionPath, SessionInterface,
                                                  QStringLiteral("Close")));
        m_sessionPath.clear();
    }
    m_triggerDescription.clear();
    m_state = State::Idle;
}

QDBusMessage PortalKeyEventSource::portalCall(const QString &interface, const char *method) const
{
    return QDBusMessage::createMethodCall(PortalService, PortalPath, interface, QLatin1String(method));
}

void PortalKeyEventSource::callPortal(const QDBusMessage &call, ReplyHandler handler)
{
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const quint64 round = m_round;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, round, handler = std::move(handler)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                if (round == m_round)
                    handler(finished->reply());
            });
}

QString PortalKeyEventSource::newToken()
{
    static quint64 counter = 0;
    return QStringLiteral("pealix%1").arg(++counter);
}

QString PortalKeyEventSource::handlePath(const char *kind, const QString &token) const
{
    // Our unique name without its colon, dots made underscores: ":1.42" is "1_42".
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return PortalPath + u'/' + QLatin1String(kind) + u'/' + sender + u'/' + token;
}

void PortalKeyEventSource::registerApplication()
{
    m_state = State::Registering;
    QDBusMessage call = portalCall(RegistryInterface, "Register");
    call << QString::fromLatin1(ApplicationId) << QVariantMap{};
    callPortal(call, [this](const QDBusMessage &) {
        // Portals older than the registry, or a connection already named, say
        // no; the portal then names us from our process as before.
        g_registeredConnections.insert(m_bus.name());
        createSession();
    });
}

void PortalKeyEventSource::createSession()
{
    m_state = State::CreatingSession;
    // The portal names the request and the session after our bus name and
    // these tokens, so both paths are known before the call: the Response is
    // awaited before it can be sent, and stop() can close a session whose
    // creation it interrupted.
    const QString requestToken = newToken(), sessionToken = newToken();
    m_sessionPath = handlePath("session", sessionToken);
    awaitResponse(handlePath("request", requestToken));

    QDBusMessage call = portalCall(ShortcutsInterface, "CreateSession");
    call << QVariantMap{{QStringLiteral("handle_token"), requestToken},
                        {QStringLiteral("session_handle_token"), sessionToken}};
    callPortal(call, [this](const QDBusMessage &reply) { followRequest(reply); });
}

void PortalKeyEventSource::followRequest(const QDBusMessage &reply)
{
    // The method's own reply only names the request; an error means there is none.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        fail();
        return;
    }
    // A portal that picks its own request path is followed there.
    const QString handle = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != m_requestPath)
        awaitResponse(handle);
}

void PortalKeyEventSource::sessionCreated(const QVariantMap &results)
{
    // Documented as an object path; older portals send it as a string.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    const QString path = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                             ? handle.value<QDBusObjectPath>().path()
                             : handle.toString();
    if (path.isEmpty()) {
        fail();
        return;
    }
    m_sessionPath = path;
    watchSession(true);
    bindShortcut();
}

void PortalKeyEventSource::bindShortcut()
{
    m_state = State::Binding;
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Push to talk")}};
    const QString trigger = PortalTrigger::fromChord(m_chord);
    if (!trigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), trigger);
    const Shortcuts shortcuts{{QString::fromLatin1(ShortcutId), properties}};

    const QString token = newToken();
    awaitResponse(handlePath("request", token));

    QDBusMessage call = portalCall(ShortcutsInterface, "BindShortcuts");
    call << QVariant::fromValue(QDBusObjectPath(m_sessionPath)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    callPortal(call, [this](const QDBusMessage &reply) { followRequest(reply); });
}

void PortalKeyEventSource::shortcutBound(const QVariantMap &results)
{
    // The desktop answers with the shortcuts it bound; without ours (the user
    // turned it down) there is nothing to watch.
    if (!updateTrigger(results.value(QStringLiteral("shortcuts")))) {
        fail();
        return;
    }
    m_state = State::Bound;
    setProblem({});
    Q_EMIT stateChanged();
}

bool PortalKeyEventSource::updateTrigger(const QVariant &shortcuts)
{
    for (const auto &[id, properties] : qdbus_cast<Shortcuts>(shortcuts)) {
        if (id == QLatin1String(ShortcutId)) {
            m_triggerDescription = properties.value(QStringLiteral("trigger_description")).toString();
            return true;
        }
    }
    return false;
}

void PortalKeyEventSource::fail()
{
    // A session whose creation failed does not exist; nothing is to be closed.
    if (m_state == State::CreatingSession)
        m_sessionPath.clear();
    stop();
    m_state = State::Failed;
    setProblem(noGlobalHotkeyProblem());
    Q_EMIT stateChanged();
}

void PortalKeyEventSource::awaitResponse(const QString &requestPath)
{
    forgetRequest();
    m_requestPath = requestPath;
    // Any sender: naming the portal's service would make Qt look up its owner
    // with a blocking call. The path carries our bus name and a fresh token.
    m_bus.connect(QString(), m_requestPath, RequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(QDBusMessage)));
}

void PortalKeyEventSource::forgetRequest()
{
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(QString(), m_requestPath, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
    m_requestPath.clear();
}

void PortalKeyEventSource::onResponse(const QDBusMessage &message)
{
    if (message.path() != m_requestPath)
        return;
    forgetRequest();
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(0).toUInt() != ResponseSuccess) {
        fail();
        return;
    }
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments.at(1));
    if (m_state == State::CreatingSession)
        sessionCreated(results);
    else if (m_state == State::Binding)
        shortcutBound(results);
}

void PortalKeyEventSource::watchSession(bool watch)
{
    if (watch == m_watchingSession)
        return;
    m_watchingSession = watch;
    struct Signal
    {
        const QString &path, &interface;
        QString name;
        const char *slot;
    };
    const Signal watched[] = {
        {PortalPath, ShortcutsInterface, QStringLiteral("Activated"), SLOT(onActivated(QDBusMessage))},
        {PortalPath, ShortcutsInterface, QStringLiteral("Deactivated"), SLOT(onDeactivated(QDBusMessage))},
        {PortalPath, ShortcutsInterface, QStringLiteral("ShortcutsChanged"),
         SLOT(onShortcutsChanged(QDBusMessage))},
        {m_sessionPath, SessionInterface, QStringLiteral("Closed"), SLOT(onSessionClosed(QDBusMessage))},
    };
    // Signals are matched from any sender, like the Response above; the
    // session path in their arguments tells ours from other applications'.
    for (const Signal &signal : watched) {
        if (watch)
            m_bus.connect(QString(), signal.path, signal.interface, signal.name, this, signal.slot);
        else
            m_bus.disconnect(QString(), signal.path, signal.interface, signal.name, this, signal.slot);
    }
}

void PortalKeyEventSource::emitKey(const QDBusMessage &message, bool pressed)
{
    // Activated, Deactivated: (o session_handle, s shortcut_id, t timestamp, a{sv} options).
    const QVariantList arguments = message.arguments();
    if (m_state != State::Bound || arguments.size() < 3)
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() != m_sessionPath ||
        arguments.at(1).toString() != QLatin1String(ShortcutId))
        return;
    // The desktop matched the trigger; the chord's own key stands for it.
    Q_EMIT keyEvent(KeyEvent{m_chord.keyCode, m_chord.modifiers, arguments.at(2).toULongLong()}, pressed);
}

void PortalKeyEventSource::onActivated(const QDBusMessage &message)
{
    emitKey(message, true);
}

void PortalKeyEventSource::onDeactivated(const QDBusMessage &message)
{
    emitKey(message, false);
}

void PortalKeyEventSource::onShortcutsChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (m_state != State::Bound || arguments.size() < 2 ||
        arguments.at(0).value<QDBusObjectPath>().path() != m_sessionPath)
        return;
    if (updateTrigger(arguments.at(1)))
        Q_EMIT stateChanged();
}

void PortalKeyEventSource::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_sessionPath)
        return;
    // The desktop ended the session; there is nothing left to close.
    watchSession(false);
    m_sessionPath.clear();
    fail();
}

} // namespace pealix
