#include "house/AvahiPublisher.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QTimer>

namespace pealix::house {

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Avahi"_s;
const QString kEntryGroup = u"org.freedesktop.Avahi.EntryGroup"_s;
constexpr int kAnyInterface = -1;
constexpr int kIPv4 = 0;
constexpr uint kNoReverse = 16; // the house's address records need no reverse lookups
constexpr int kEstablished = 2, kCollision = 3, kFailure = 4;

} // namespace

AvahiPublisher::AvahiPublisher(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
}

bool AvahiPublisher::publish(const QString &instance, const QString &type, const QString &hostName,
                             const QHostAddress &address, quint16 port, const QList<QByteArray> &txt,
                             QString *problem)
{
    const QDBusMessage created = m_bus.call(QDBusMessage::createMethodCall(
        kService, u"/"_s, u"org.freedesktop.Avahi.Server"_s, u"EntryGroupNew"_s));
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty()) {
        *problem = u"avahi made no entry group for "_s + instance + u": "_s + created.errorMessage();
        return false;
    }
    const QString path = created.arguments().first().value<QDBusObjectPath>().path();
    // Subscribed before the commit, so no change of state goes unheard.
    m_bus.connect(kService, path, kEntryGroup, u"StateChanged"_s, this,
                  SLOT(groupStateChanged(int, QString)));
    m_states.insert(path, 0);
    m_instances.insert(path, instance);

    const QString host = hostName + u".local"_s;
    QList<QDBusMessage> calls;
    QDBusMessage addAddress = QDBusMessage::createMethodCall(kService, path, kEntryGroup, u"AddAddress"_s);
    addAddress << kAnyInterface << kIPv4 << kNoReverse << host << address.toString();
    QDBusArgument record; // a TXT record is "aay"
    record.beginArray(QMetaType::fromType<QByteArray>());
    for (const QByteArray &string : txt)
        record << string;
    record.endArray();
    QDBusMessage addService = QDBusMessage::createMethodCall(kService, path, kEntryGroup, u"AddService"_s);
    addService << kAnyInterface << kIPv4 << uint(0) << instance << type << QString() << host
               << QVariant::fromValue(port) << QVariant::fromValue(record);
    calls << addAddress << addService
          << QDBusMessage::createMethodCall(kService, path, kEntryGroup, u"Commit"_s);
    for (const QDBusMessage &call : std::as_const(calls)) {
        const QDBusMessage reply = m_bus.call(call);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            *problem =
                u"avahi refused "_s + call.member() + u" for "_s + instance + u": "_s + reply.errorMessage();
            return false;
        }
    }
    return true;
}

void AvahiPublisher::groupStateChanged(int state, const QString &error)
{
    const QString path = message().path();
    if (!m_states.contains(path))
        return;
    m_states[path] = state;
    if ((state == kCollision || state == kFailure) && m_failure.isEmpty())
        m_failure = u"avahi could not publish "_s + m_instances.value(path) +
                    (state == kCollision ? u": the name is taken"_s : u": "_s + error);
    if (m_waiting)
        m_waiting->quit();
}

bool AvahiPublisher::awaitEstablished(std::chrono::milliseconds limit, QString *problem)
{
    const auto allEstablished = [this] {
        for (int state : std::as_const(m_states))
            if (state != kEstablished)
                return false;
        return true;
    };
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(limit);
    m_waiting = &loop;
    while (!allEstablished() && m_failure.isEmpty() && deadline.isActive())
        loop.exec();
    m_waiting = nullptr;
    if (!m_failure.isEmpty()) {
        *problem = m_failure;
        return false;
    }
    if (!allEstablished()) {
        *problem =
            u"avahi did not finish publishing the Cast devices within %1 s"_s.arg(limit.count() / 1000.0);
        return false;
    }
    return true;
}

} // namespace pealix::house
