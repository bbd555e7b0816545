#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <functional>

namespace pealix::house {

// The players' side of SSDP: listens on the multicast group's port, records
// every search for zone players (or for everything) and answers each with one
// unicast reply per answer, as every player on the network would.
class SsdpResponder
{
public:
    static inline const QHostAddress kGroup{QStringLiteral("239.255.255.250")};
    static constexpr quint16 kPort = 1900;

    struct Answer
    {
        QByteArray locationLine; // the whole header line, e.g. "LOCATION: http://…"
        QHostAddress from;       // the player's own address as the reply's source; any when null
        QByteArray usn;          // the USN header's value; left out when empty

        explicit Answer(QByteArray line, QHostAddress source = {}, QByteArray serviceName = {})
            : locationLine(std::move(line)), from(std::move(source)), usn(std::move(serviceName))
        {
        }
    };

    // Joins the group on `interface`, or on the default one when it is invalid.
    explicit SsdpResponder(QList<Answer> answers, const QNetworkInterface &interface = {});
    explicit SsdpResponder(const QList<QByteArray> &locationLines);

    // An unsolicited datagram to the group, as players announce themselves.
    void notify(const QByteArray &datagram);

    QList<Answer> answers;
    QList<QByteArray> searches;
    bool listening = false;
    std::function<void(const QNetworkDatagram &search)> onSearch;

private:
    void answer(const QNetworkDatagram &search);

    QUdpSocket m_socket;
};

} // namespace pealix::house
