#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

namespace pealix::test {

// A stand-in for the SSDP side of devices on the network: it joins the SSDP
// group, records every search it hears and answers each one with the reply
// datagrams it was given, unicast to the searcher. Only for use inside a
// network namespace made by the test.
class SsdpResponder : public QObject
{
    Q_OBJECT

public:
    explicit SsdpResponder(QObject *parent = nullptr);

    // False when port 1900 or the group cannot be had.
    bool start();

    void addReply(const QByteArray &datagram) { m_replies.append(datagram); }
    // Sends a datagram to the group, as a device's NOTIFY would be.
    void advertise(const QByteArray &datagram);

    const QList<QByteArray> &searches() const { return m_searches; }

    static QByteArray reply(const QByteArray &locationLine);

private:
    void onReadyRead();

    QUdpSocket m_socket;
    QList<QByteArray> m_replies;
    QList<QByteArray> m_searches;
};

} // namespace pealix::test
