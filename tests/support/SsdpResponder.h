#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUdpSocket>

namespace pealix::test {

// Devices' SSDP side: joins the group, records every M-SEARCH and answers each
// with the given reply datagrams, unicast. Only inside the test's own namespace.
class SsdpResponder : public QObject
{
    Q_OBJECT

public:
    SsdpResponder();
    bool start(); // false when port 1900 or the group cannot be had

    void addReply(const QByteArray &locationLine);
    void advertise(const QByteArray &datagram); // to the group, as a NOTIFY
    const QList<QByteArray> &searches() const { return m_searches; }

private:
    QUdpSocket m_socket;
    QList<QByteArray> m_replies;
    QList<QByteArray> m_searches;
};

} // namespace pealix::test
