#include "house/StrangerRoom.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace pealix::house {

using namespace Qt::StringLiterals;

namespace {

// A server that answers at all answers well within this.
constexpr int kPatienceMs = 3000;

struct Attempt
{
    QString url;
    bool connected = false;
    qint64 bytes = 0;
    QString ended; // closed, refused, timeout, or the socket's error
    bool over = false;
};

} // namespace

StrangerRoom::StrangerRoom(const RoomDescription &description, HouseLog &log)
    : m_description(description), m_log(log)
{
}

void StrangerRoom::introduce()
{
    m_log.note(
        m_description.name, u"stranger"_s, {{u"address"_s, m_description.address.toString()}},
        u"a stranger at %1: it asks for every clip URL it sees"_s.arg(m_description.address.toString()));
}

void StrangerRoom::tryUrl(const QString &text)
{
    const QUrl url(text);
    if (m_tried.contains(text) || url.scheme() != u"http" || url.host().isEmpty())
        return;
    m_tried.insert(text);
    auto attempt = std::make_shared<Attempt>();
    attempt->url = text;
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    const auto finish = [this, socket, attempt](const QString &how) {
        if (std::exchange(attempt->over, true))
            return;
        attempt->ended = how;
        attempt->bytes += socket->bytesAvailable();
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        const QString got = attempt->bytes == 0
                                ? u"got nothing (connection %1)"_s.arg(how)
                                : u"got %1 bytes (connection %2)"_s.arg(attempt->bytes).arg(how);
        m_log.note(m_description.name, u"stranger-fetch"_s,
                   {{u"url"_s, attempt->url},
                    {u"connected"_s, attempt->connected},
                    {u"bytes"_s, attempt->bytes},
                    {u"ended"_s, how}},
                   u"asked for %1, "_s.arg(attempt->url) + got);
    };
    QObject::connect(socket, &QTcpSocket::connected, socket, [socket, attempt, url] {
        attempt->connected = true;
        socket->write("GET " + url.path(QUrl::FullyEncoded).toLatin1() + " HTTP/1.1\r\nHost: " +
                      url.authority().toLatin1() + "\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [socket, attempt] { attempt->bytes += socket->readAll().size(); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, [finish] { finish(u"closed"_s); });
    QObject::connect(
        socket, &QTcpSocket::errorOccurred, socket, [socket, finish](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError)
                return finish(u"closed"_s);
            finish(error == QAbstractSocket::ConnectionRefusedError ? u"refused"_s : socket->errorString());
        });
    QTimer::singleShot(kPatienceMs, socket, [finish] { finish(u"timeout"_s); });
    if (!socket->bind(m_description.address, 0))
        return finish(socket->errorString());
    socket->connectToHost(url.host(), quint16(url.port(80)));
}

} // namespace pealix::house
