#include "house/devices/SsdpResponder.h"

#include <QNetworkProxy>

namespace pealix::house {

namespace {

// The value of the header `name` (any case) in an SSDP datagram, trimmed.
QByteArray header(const QByteArray &datagram, const QByteArray &name)
{
    for (const QByteArray &line : datagram.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

bool looksForPlayers(const QByteArray &search)
{
    const QByteArray target = header(search, "st");
    return target == "ssdp:all" || target == "upnp:rootdevice" ||
           target == "urn:schemas-upnp-org:device:ZonePlayer:1";
}

} // namespace

SsdpResponder::SsdpResponder(QList<Answer> answerList, const QNetworkInterface &interface)
    : answers(std::move(answerList))
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram search = m_socket.receiveDatagram();
            if (!search.data().startsWith("M-SEARCH") || !looksForPlayers(search.data()))
                continue;
            searches << search.data();
            if (onSearch)
                onSearch(search);
            answer(search);
        }
    });
    listening = m_socket.bind(QHostAddress::AnyIPv4, kPort,
                              QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
                (interface.isValid() ? m_socket.joinMulticastGroup(kGroup, interface)
                                     : m_socket.joinMulticastGroup(kGroup));
    if (interface.isValid())
        m_socket.setMulticastInterface(interface);
}

SsdpResponder::SsdpResponder(const QList<QByteArray> &locationLines)
    : SsdpResponder(QList<Answer>(locationLines.begin(), locationLines.end()))
{
}

void SsdpResponder::notify(const QByteArray &datagram)
{
    m_socket.writeDatagram(datagram, kGroup, kPort);
}

void SsdpResponder::answer(const QNetworkDatagram &search)
{
    for (const Answer &each : std::as_const(answers)) {
        QNetworkDatagram reply("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age = 1800\r\nEXT:\r\n" +
                                   each.locationLine +
                                   "\r\nSERVER: Linux UPnP/1.0 Sonos/70.3-35220 (ZPS12)\r\n"
                                   "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n" +
                                   (each.usn.isEmpty() ? QByteArray() : "USN: " + each.usn + "\r\n") + "\r\n",
                               search.senderAddress(), quint16(search.senderPort()));
        if (!each.from.isNull())
            reply.setSender(each.from);
        m_socket.writeDatagram(reply);
    }
}

} // namespace pealix::house
