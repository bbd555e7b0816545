#include "net/MulticastGroup.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

namespace pealix::net {

MulticastGroup::MulticastGroup(QHostAddress group, quint16 port, QObject *parent)
    : QObject(parent), m_group(std::move(group)), m_port(port)
{
}

MulticastGroup::~MulticastGroup() = default;

bool MulticastGroup::open()
{
    if (m_sender || m_cancelled)
        return m_sender != nullptr;
    // Multicast never leaves the local network, so a SOCKS proxy from the
    // environment must not carry it.
    auto *sender = new QUdpSocket(this);
    sender->setProxy(QNetworkProxy::NoProxy);
    if (!sender->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        delete sender;
        return false;
    }
    sender->setSocketOption(QAbstractSocket::MulticastLoopbackOption, QVariant(1));
    m_sender = sender;
    connect(m_sender, &QUdpSocket::readyRead, this, [this] { drain(m_sender); });

    auto *listener = new QUdpSocket(this);
    listener->setProxy(QNetworkProxy::NoProxy);
    if (listener->bind(QHostAddress(QHostAddress::AnyIPv4), m_port,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
        listener->joinMulticastGroup(m_group)) {
        m_listener = listener;
        m_joined = true;
        connect(m_listener, &QUdpSocket::readyRead, this, [this] { drain(m_listener); });
    } else {
        delete listener;
    }
    return true;
}

void MulticastGroup::start()
{
    if (!m_sender)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_cancelled)
            Q_EMIT ready();
    });
}

void MulticastGroup::send(const QByteArray &datagram)
{
    if (m_sender && !m_cancelled)
        m_sender->writeDatagram(datagram, m_group, m_port);
}

void MulticastGroup::cancel()
{
    m_cancelled = true;
    for (QUdpSocket *socket : {m_sender, m_listener}) {
        if (socket) {
            socket->disconnect(this);
            socket->close();
        }
    }
}

void MulticastGroup::drain(QUdpSocket *socket)
{
    // A bounded batch per pass, so a flood of datagrams cannot hold the event
    // loop (and with it the end-of-window timer) hostage.
    constexpr int kBatch = 64;
    for (int i = 0; i < kBatch; ++i) {
        if (m_cancelled || !socket->hasPendingDatagrams())
            return;
        const QNetworkDatagram datagram = socket->receiveDatagram(kMaxDatagram);
        if (!datagram.isValid())
            return;
        Q_EMIT datagramReceived(datagram.data(), datagram.senderAddress(),
                                static_cast<quint16>(datagram.senderPort()));
    }
    QTimer::singleShot(0, socket, [this, socket] {
        if (!m_cancelled)
            drain(socket);
    });
}

} // namespace pealix::net
