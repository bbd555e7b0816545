#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

namespace pealix::house {

// Publishes services over DNS-SD through an avahi-daemon's D-Bus interface:
// each with a host name of its own and that name's address, as a device on
// the network publishes itself. What is published lasts as long as the
// connection to the bus.
class AvahiPublisher : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    explicit AvahiPublisher(QDBusConnection bus, QObject *parent = nullptr);

    // Adds one service instance; false with the reason when avahi refuses.
    bool publish(const QString &instance, const QString &type, const QString &hostName,
                 const QHostAddress &address, quint16 port, const QList<QByteArray> &txt, QString *problem);
    // Runs the event loop until every instance is established (probed and
    // announced); false with the reason on a collision, a failure or `limit`.
    bool awaitEstablished(std::chrono::milliseconds limit, QString *problem);

private Q_SLOTS:
    void groupStateChanged(int state, const QString &error);

private:
    QDBusConnection m_bus;
    QHash<QString, int> m_states;        // by entry group path
    QHash<QString, QString> m_instances; // by entry group path
    QString m_failure;
    QEventLoop *m_waiting = nullptr;
};

} // namespace pealix::house
