#include "support/SsdpResponder.h"

#include <QNetworkDatagram>

namespace pealix::test {

static const QHostAddress kGroup(QStringLiteral("239.255.255.250"));

SsdpResponder::SsdpResponder()
{
    connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            if (!datagram.data().startsWith("M-SEARCH"))
                continue;
            m_searches.append(datagram.data());
            for (const QByteArray &reply : std::as_const(m_replies))
                m_socket.writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
        }
    });
}

bool SsdpResponder::start()
{
    return m_socket.bind(QHostAddress(QHostAddress::AnyIPv4), 1900,
                         QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
           m_socket.joinMulticastGroup(kGroup);
}

void SsdpResponder::addReply(const QByteArray &locationLine)
{
    m_replies.append("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age = 1800\r\nEXT:\r\n" + locationLine +
                     "\r\nSERVER: Linux UPnP/1.0 Sonos/70.3-35220 (ZPS1)\r\n"
                     "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n"
                     "USN: uuid:RINCON_FAKE::urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n");
}

void SsdpResponder::advertise(const QByteArray &datagram)
{
    m_socket.writeDatagram(datagram, kGroup, 1900);
}

} // namespace pealix::test
