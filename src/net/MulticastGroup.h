#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

namespace pealix::net {

// A UDP multicast group with unicast replies kept: one socket on an ephemeral
// port sends to the group and receives the answers addressed back to it, and
// a second one, bound to the group's port with address sharing, receives what
// others send to the group. Signals are delivered on the owner thread's event
// loop; nothing is emitted after cancel().
class MulticastGroup : public QObject
{
    Q_OBJECT

public:
    // The largest datagram handed on; anything beyond it is cut off.
    static constexpr qint64 kMaxDatagram = 65535;

    MulticastGroup(QHostAddress group, quint16 port, QObject *parent = nullptr);
    ~MulticastGroup() override;

    // Binds the sockets. False when the sending socket cannot be had; a group
    // that cannot be joined only costs the unsolicited traffic.
    bool open();

    // Reports ready() from the event loop once open() has succeeded.
    void start();

    // Sends one datagram to the group endpoint; fire and forget.
    void send(const QByteArray &datagram);

    void cancel();

    bool isJoined() const { return m_joined; }

Q_SIGNALS:
    void ready();
    void datagramReceived(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort);

private:
    void drain(QUdpSocket *socket);

    QHostAddress m_group;
    quint16 m_port;
    QUdpSocket *m_sender = nullptr;
    QUdpSocket *m_listener = nullptr;
    bool m_joined = false;
    bool m_cancelled = false;
};

} // namespace pealix::net
