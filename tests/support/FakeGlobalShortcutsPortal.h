#pragma once

// A desktop portal on a test's private session bus offering
// org.freedesktop.portal.GlobalShortcuts as xdg-desktop-portal does: a method
// replies with a request path, and its result follows as that request's
// Response signal right behind the reply (a client that subscribes late misses
// it). The fake records what it was asked, checks each call's signature
// against the interface file xdg-desktop-portal ships, and plays the desktop
// when the test says so. Header only: the shared test library has no QtDBus.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace pealix::test {

class FakeGlobalShortcutsPortal : public QDBusVirtualObject
{
public:
    enum class Behaviour {
        Grants,         // sessions and shortcuts as asked
        LacksInterface, // an older portal: no GlobalShortcuts, no host registry
        RefusesSession, // CreateSession answers with an error
        UserCancels,    // BindShortcuts' Response carries code 1 (dialog dismissed)
        BindsNothing,   // BindShortcuts succeeds with none of the shortcuts
    };
    struct Session
    {
        QString path;
        QString owner; // the caller's unique bus name
        bool closed = false;
    };
    struct Binding
    {
        QString session, id, description;
        std::optional<QString> preferredTrigger;
    };

    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    FakeGlobalShortcutsPortal(const QString &busAddress, const QString &interfaceFile,
                              Behaviour behaviour = Behaviour::Grants)
        : m_bus(
              QDBusConnection::connectToBus(busAddress, QStringLiteral("fake-portal-%1").arg(++s_instances))),
          m_behaviour(behaviour)
    {
        qDBusRegisterMetaType<Shortcuts::value_type>();
        qDBusRegisterMetaType<Shortcuts>();
        readSignatures(interfaceFile);
        m_serving = !m_signatures.isEmpty() &&
                    m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
                    m_bus.registerVirtualObject(Path, this, QDBusConnection::SubPath);
    }
    ~FakeGlobalShortcutsPortal() override
    {
        // A call still on its way (a client's fire-and-forget Close) is queued
        // for this object by Qt's bus thread with a reference to the
        // connection. Queued just as the last reference goes, it outlives the
        // connection, and dropping it in ~QObject answers the caller through
        // freed memory. So: no more deliveries (unregistering waits for one
        // being queued), the queued ones dropped while the connection is still
        // held, and only then the connection goes.
        m_bus.unregisterObject(Path, QDBusConnection::UnregisterTree);
        QCoreApplication::removePostedEvents(this);
        const QString name = m_bus.name();
        m_bus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(name);
    }

    // The bus name is held and the interface file was read.
    bool isServing() const { return m_serving; }

    QStringList calls;                  // members in the order received
    QStringList registeredApplications; // app ids given to the host registry
    std::vector<Session> sessions;
    std::vector<Binding> bindings;
    QStringList violations; // calls that broke the interface's rules

    // What the desktop shows for a trigger it was offered.
    static QString describe(const std::optional<QString> &trigger)
    {
        return trigger ? QStringLiteral("Desktop shows %1").arg(*trigger)
                       : QStringLiteral("Not assigned yet");
    }

    // The desktop's side, for the latest session unless another is named.
    void activate(quint64 time, const QString &id = QStringLiteral("push-to-talk"),
                  const QString &session = {})
    {
        send(QStringLiteral("Activated"), time, id, session);
    }
    void deactivate(quint64 time, const QString &id = QStringLiteral("push-to-talk"),
                    const QString &session = {})
    {
        send(QStringLiteral("Deactivated"), time, id, session);
    }
    // The user picked another trigger in the desktop's settings.
    void changeTrigger(const QString &id, const QString &description)
    {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, QStringLiteral("ShortcutsChanged"));
        const Shortcuts shortcuts{{id, {{QStringLiteral("trigger_description"), description}}}};
        m_bus.send(signal << QVariant::fromValue(QDBusObjectPath(sessions.back().path))
                          << QVariant::fromValue(shortcuts));
    }
    // The desktop ends the latest session.
    void closeSession()
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            sessions.back().path, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"));
        m_bus.send(signal << QVariantMap{});
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QString member = message.member();
        calls << member;
        if (m_behaviour == Behaviour::LacksInterface || !m_signatures.contains(member)) {
            // What xdg-desktop-portal says when no backend offers an interface.
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                           QStringLiteral("No such interface")));
            return true;
        }
        if (message.signature() != m_signatures.value(member)) {
            violations << QStringLiteral("%1(%2), the interface says (%3)")
                              .arg(member, message.signature(), m_signatures.value(member));
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), member));
            return true;
        }
        if (member == u"Register") {
            if (!sessions.empty())
                violations << QStringLiteral("Register after a portal call");
            registeredApplications << message.arguments().value(0).toString();
            reply(message.createReply());
        } else if (member == u"Close") {
            for (Session &session : sessions)
                session.closed = session.closed || session.path == message.path();
            reply(message.createReply());
        } else if (member == u"CreateSession") {
            createSession(message);
        } else if (member == u"BindShortcuts") {
            bindShortcuts(message);
        } else {
            reply(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"), member));
        }
        return true;
    }

private:
    using Shortcuts = QList<std::pair<QString, QVariantMap>>;

    // The in-argument signature of every method in the interface file, and
    // those of the host registry and the session objects.
    void readSignatures(const QString &file)
    {
        QFile xml(file);
        if (!xml.open(QIODevice::ReadOnly))
            return;
        m_signatures = {{QStringLiteral("Register"), QStringLiteral("sa{sv}")},
                        {QStringLiteral("Close"), {}}};
        QXmlStreamReader reader(&xml);
        QString method;
        while (reader.readNext() != QXmlStreamReader::Invalid && !reader.atEnd()) {
            const auto attribute = [&](const char *name) {
                return reader.attributes().value(QLatin1String(name));
            };
            if (reader.isStartElement() && reader.name() == u"method")
                m_signatures.insert(method = attribute("name").toString(), QString());
            else if (reader.isEndElement() && reader.name() == u"method")
                method.clear();
            else if (reader.isStartElement() && reader.name() == u"arg" && !method.isEmpty() &&
                     attribute("direction") == u"in")
                m_signatures[method] += attribute("type").toString();
        }
    }

    void reply(const QDBusMessage &message) { m_bus.send(message); }

    // Where the portal puts a request or session: the caller's unique name
    // without its colon and with dots made underscores, then the token.
    static QString objectPath(const char *kind, const QDBusMessage &call, const QVariantMap &options,
                              const char *tokenKey)
    {
        QString caller = call.service().mid(1);
        caller.replace(u'.', u'_');
        return Path + u'/' + QLatin1String(kind) + u'/' + caller + u'/' +
               options.value(QLatin1String(tokenKey), QStringLiteral("fake")).toString();
    }

    // The request path as the reply, then the Response right behind it.
    void answer(const QDBusMessage &call, const QVariantMap &options, uint code, const QVariantMap &results)
    {
        const QString request = objectPath("request", call, options, "handle_token");
        reply(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        m_bus.send(response << code << results);
    }

    void createSession(const QDBusMessage &call)
    {
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().at(0));
        if (m_behaviour == Behaviour::RefusesSession) {
            // What xdg-desktop-portal 1.21 answers an application without an id.
            reply(call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                        QStringLiteral("An app id is required")));
            return;
        }
        sessions.push_back({objectPath("session", call, options, "session_handle_token"), call.service()});
        answer(
            call, options, 0,
            {{QStringLiteral("session_handle"), QVariant::fromValue(QDBusObjectPath(sessions.back().path))}});
    }

    void bindShortcuts(const QDBusMessage &call)
    {
        const QString session = call.arguments().at(0).value<QDBusObjectPath>().path();
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().at(3));
        // A session of the caller's, open, and bound at most once.
        bool open = false, boundBefore = false;
        for (const Session &known : sessions)
            open = open || (known.path == session && known.owner == call.service() && !known.closed);
        for (const Binding &binding : bindings)
            boundBefore = boundBefore || binding.session == session;
        if (!open || boundBefore) {
            violations << QStringLiteral("BindShortcuts on session %1, open %2, bound before %3")
                              .arg(session)
                              .arg(open)
                              .arg(boundBefore);
            reply(call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.InvalidArgument"),
                                        session));
            return;
        }
        Shortcuts granted;
        for (const auto &[id, properties] : qdbus_cast<Shortcuts>(call.arguments().at(1))) {
            Binding binding{session, id, properties.value(QStringLiteral("description")).toString(), {}};
            if (properties.contains(QStringLiteral("preferred_trigger")))
                binding.preferredTrigger = properties.value(QStringLiteral("preferred_trigger")).toString();
            bindings.push_back(binding);
            granted.append({id,
                            {{QStringLiteral("description"), binding.description},
                             {QStringLiteral("trigger_description"), describe(binding.preferredTrigger)}}});
        }
        if (m_behaviour == Behaviour::UserCancels)
            answer(call, options, 1, {});
        else
            answer(call, options, 0,
                   {{QStringLiteral("shortcuts"),
                     QVariant::fromValue(m_behaviour == Behaviour::BindsNothing ? Shortcuts{} : granted)}});
    }

    void send(const QString &name, quint64 time, const QString &id, const QString &session)
    {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, name);
        m_bus.send(
            signal << QVariant::fromValue(QDBusObjectPath(session.isEmpty() ? sessions.back().path : session))
                   << id << QVariant::fromValue(qulonglong(time)) << QVariantMap{});
    }

    static inline int s_instances = 0;
    QDBusConnection m_bus;
    Behaviour m_behaviour;
    bool m_serving = false;
    QMap<QString, QString> m_signatures; // method -> in-argument signature
};

} // namespace pealix::test
