#pragma once

// A desktop portal on a test's private session bus that offers
// org.freedesktop.portal.GlobalShortcuts the way xdg-desktop-portal does:
// methods answer with a request path at once, and the result follows as that
// request's Response signal, sent right behind the reply (a client that
// subscribes late misses it). The fake records what it was asked, checks each
// call's arguments against the interface description that xdg-desktop-portal
// ships, and plays the desktop: it emits Activated, Deactivated,
// ShortcutsChanged and a session's Closed when the test says so.
//
// Header only: the shared test library does not link QtDBus.

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
#include <utility>
#include <vector>

namespace pealix::test {

class FakeGlobalShortcutsPortal : public QDBusVirtualObject
{
public:
    // How the desktop answers.
    enum class Behaviour {
        Grants,         // sessions and shortcuts as asked
        LacksInterface, // an older portal: neither GlobalShortcuts nor the host registry
        RefusesSession, // CreateSession answers with an error
        DeniesSession,  // CreateSession's Response carries code 2
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
        QString session;
        QString id;
        QString description;
        std::optional<QString> preferredTrigger;
    };

    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    // `interfaceXml` is the file of org.freedesktop.portal.GlobalShortcuts.
    FakeGlobalShortcutsPortal(const QString &busAddress, const QString &interfaceXml,
                              Behaviour behaviour = Behaviour::Grants)
        : m_bus(QDBusConnection::connectToBus(busAddress, nextConnectionName())), m_behaviour(behaviour)
    {
        qDBusRegisterMetaType<Shortcuts::value_type>();
        qDBusRegisterMetaType<Shortcuts>();
        readInterface(interfaceXml);
        m_serving = !m_signatures.isEmpty() && m_bus.registerService(Service) &&
                    m_bus.registerVirtualObject(Path, this, QDBusConnection::SubPath);
    }

    ~FakeGlobalShortcutsPortal() override
    {
        m_bus.unregisterObject(Path, QDBusConnection::UnregisterTree);
        m_bus.unregisterService(Service);
        const QString name = m_bus.name();
        m_bus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(name);
    }

    // The bus name is held and the interface description was read.
    bool isServing() const { return m_serving; }

    // What was received, in order.
    QStringList calls;                  // "Register", "CreateSession", "BindShortcuts", "Close"
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
    void activate(quint64 timestamp, const QString &id = QStringLiteral("push-to-talk"), QString session = {})
    {
        emitShortcutSignal(QStringLiteral("Activated"), timestamp, id, std::move(session));
    }
    void deactivate(quint64 timestamp, const QString &id = QStringLiteral("push-to-talk"),
                    QString session = {})
    {
        emitShortcutSignal(QStringLiteral("Deactivated"), timestamp, id, std::move(session));
    }
    // The user picked another trigger in the desktop's settings.
    void changeTrigger(const QString &id, const QString &description)
    {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, QStringLiteral("ShortcutsChanged"));
        const Shortcuts shortcuts{{id, QVariantMap{{QStringLiteral("description"), QStringLiteral("changed")},
                                                   {QStringLiteral("trigger_description"), description}}}};
        signal << QVariant::fromValue(QDBusObjectPath(latestSession())) << QVariant::fromValue(shortcuts);
        m_bus.send(signal);
    }
    // The desktop ends the latest session.
    void closeSession()
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            latestSession(), QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"));
        signal << QVariantMap{};
        m_bus.send(signal);
    }

    QString introspect(const QString &path) const override
    {
        return path == Path ? m_interfaceXml : QString();
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        Q_UNUSED(connection);
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        const QString member = message.member();
        if (message.interface() == QLatin1String("org.freedesktop.host.portal.Registry") &&
            member == u"Register")
            return registerApplication(message);
        if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == u"Close")
            return closeCall(message);
        if (message.interface() != Interface || message.path() != Path)
            return false;
        if (m_behaviour == Behaviour::LacksInterface) {
            // What xdg-desktop-portal says when no backend offers the interface.
            reply(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                         QStringLiteral("No such interface \u201C%1\u201D").arg(Interface)));
            return true;
        }
        calls << member;
        if (message.signature() != m_signatures.value(member, QStringLiteral("-"))) {
            violations << QStringLiteral("%1 called with (%2), the interface says (%3)")
                              .arg(member, message.signature(), m_signatures.value(member));
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                           QStringLiteral("wrong arguments")));
            return true;
        }
        if (member == u"CreateSession")
            createSession(message);
        else if (member == u"BindShortcuts")
            bindShortcuts(message);
        else
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
                                           QStringLiteral("not offered by this fake")));
        return true;
    }

private:
    using Shortcuts = QList<std::pair<QString, QVariantMap>>;

    static QString nextConnectionName()
    {
        static int count = 0;
        return QStringLiteral("fake-global-shortcuts-portal-%1").arg(++count);
    }

    // The in-argument signature of every method of the interface, and the
    // interface's own XML for introspection.
    void readInterface(const QString &file)
    {
        QFile xml(file);
        if (!xml.open(QIODevice::ReadOnly))
            return;
        const QByteArray text = xml.readAll();
        const qsizetype begin = text.indexOf("<interface"), end = text.indexOf("</interface>");
        if (begin >= 0 && end > begin)
            m_interfaceXml = QString::fromUtf8(text.mid(begin, end + 12 - begin));
        QXmlStreamReader reader(text);
        QString method;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement() && reader.name() == u"method") {
                method = reader.attributes().value(QLatin1String("name")).toString();
                m_signatures.insert(method, QString());
            } else if (reader.isEndElement() && reader.name() == u"method") {
                method.clear();
            } else if (reader.isStartElement() && reader.name() == u"arg" && !method.isEmpty() &&
                       reader.attributes().value(QLatin1String("direction")) == u"in") {
                m_signatures[method] += reader.attributes().value(QLatin1String("type")).toString();
            }
        }
    }

    void reply(const QDBusMessage &message) { m_bus.send(message); }

    // The request path the portal hands out: the caller's unique name without
    // its colon and with dots made underscores, then the caller's token.
    static QString objectPath(const QString &kind, const QString &sender, const QString &token)
    {
        QString name = sender.mid(1);
        name.replace(u'.', u'_');
        return Path + u'/' + kind + u'/' + name + u'/' + token;
    }

    QString requestPath(const QDBusMessage &message, const QVariantMap &options)
    {
        QString token = options.value(QStringLiteral("handle_token")).toString();
        if (token.isEmpty())
            token = QStringLiteral("fake%1").arg(++m_tokens);
        return objectPath(QStringLiteral("request"), message.service(), token);
    }

    // Reply with the request path, then the Response right behind it.
    void answer(const QDBusMessage &message, const QString &request, uint code, const QVariantMap &results)
    {
        reply(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << results;
        m_bus.send(response);
    }

    bool registerApplication(const QDBusMessage &message)
    {
        if (m_behaviour == Behaviour::LacksInterface) {
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                           QStringLiteral("No such interface")));
            return true;
        }
        calls << QStringLiteral("Register");
        if (message.signature() != u"sa{sv}")
            violations << QStringLiteral("Register called with (%1)").arg(message.signature());
        // Registering is allowed once, before any other portal call.
        for (const Session &session : sessions) {
            if (session.owner == message.service())
                violations << QStringLiteral("Register after a portal call");
        }
        registeredApplications << message.arguments().value(0).toString();
        reply(message.createReply());
        return true;
    }

    void createSession(const QDBusMessage &message)
    {
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(0));
        if (m_behaviour == Behaviour::RefusesSession) {
            // What xdg-desktop-portal 1.21 answers an application without an id.
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                           QStringLiteral("An app id is required")));
            return;
        }
        QString token = options.value(QStringLiteral("session_handle_token")).toString();
        if (token.isEmpty())
            token = QStringLiteral("fake%1").arg(++m_tokens);
        const QString session = objectPath(QStringLiteral("session"), message.service(), token);
        if (m_behaviour == Behaviour::DeniesSession) {
            answer(message, requestPath(message, options), 2, {});
            return;
        }
        sessions.push_back({session, message.service(), false});
        answer(message, requestPath(message, options), 0,
               {{QStringLiteral("session_handle"), QVariant::fromValue(QDBusObjectPath(session))}});
    }

    void bindShortcuts(const QDBusMessage &message)
    {
        const QVariantList arguments = message.arguments();
        const QString session = arguments.at(0).value<QDBusObjectPath>().path();
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments.at(3));
        const Session *known = nullptr;
        for (const Session &candidate : sessions) {
            if (candidate.path == session && candidate.owner == message.service() && !candidate.closed)
                known = &candidate;
        }
        bool boundBefore = false;
        for (const Binding &binding : bindings)
            boundBefore = boundBefore || binding.session == session;
        if (!known || boundBefore) {
            violations << QStringLiteral("BindShortcuts on %1 session %2")
                              .arg(known ? QStringLiteral("an already bound") : QStringLiteral("an unknown"),
                                   session);
            reply(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.InvalidArgument"),
                                           QStringLiteral("Invalid session")));
            return;
        }
        Shortcuts granted;
        const QDBusArgument list = arguments.at(1).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString id;
            QVariantMap properties;
            list.beginStructure();
            list >> id >> properties;
            list.endStructure();
            Binding binding{session, id, properties.value(QStringLiteral("description")).toString(),
                            std::nullopt};
            if (properties.contains(QStringLiteral("preferred_trigger")))
                binding.preferredTrigger = properties.value(QStringLiteral("preferred_trigger")).toString();
            bindings.push_back(binding);
            granted.append({id, QVariantMap{{QStringLiteral("description"), binding.description},
                                            {QStringLiteral("trigger_description"),
                                             describe(binding.preferredTrigger)}}});
        }
        list.endArray();
        const QString request = requestPath(message, options);
        if (m_behaviour == Behaviour::UserCancels)
            answer(message, request, 1, {});
        else
            answer(message, request, 0,
                   {{QStringLiteral("shortcuts"),
                     QVariant::fromValue(m_behaviour == Behaviour::BindsNothing ? Shortcuts{} : granted)}});
    }

    bool closeCall(const QDBusMessage &message)
    {
        calls << QStringLiteral("Close");
        for (Session &session : sessions) {
            if (session.path == message.path() && session.owner == message.service())
                session.closed = true;
        }
        reply(message.createReply());
        return true;
    }

    QString latestSession() const { return sessions.empty() ? QString() : sessions.back().path; }

    void emitShortcutSignal(const QString &name, quint64 timestamp, const QString &id, QString session)
    {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, name);
        signal << QVariant::fromValue(QDBusObjectPath(session.isEmpty() ? latestSession() : session)) << id
               << QVariant::fromValue(qulonglong(timestamp)) << QVariantMap{};
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    Behaviour m_behaviour;
    bool m_serving = false;
    QMap<QString, QString> m_signatures;
    QString m_interfaceXml;
    int m_tokens = 0;
};

} // namespace pealix::test
