#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace pealix::test {

using namespace Qt::StringLiterals;

// A Sonos player on a loopback address: records every request, answers SOAP
// actions with bodies shaped like a real player's, serves device descriptions
// for GET, and can misbehave per action. One request per connection.
class FakeSonosPlayer
{
public:
    enum class Behaviour { Answer, Fault, Hang, Garbage };

    struct Request
    {
        QString path, action; // action: the name after "#" in SOAPACTION; empty for GET
        QByteArray head;      // request line and headers
        QString body;
    };

    explicit FakeSonosPlayer(const QHostAddress &address, quint16 port = 0)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, buffer = QByteArray()]() mutable { onData(socket, buffer); });
            }
        });
        m_server.listen(address, port);
    }

    // A player that serves only its device description, which omits roomName or UDN when null.
    FakeSonosPlayer(const char *address, const QByteArray &roomName, const QByteArray &udn, quint16 port = 0)
        : FakeSonosPlayer(QHostAddress(QLatin1String(address)), port)
    {
        responses = {{kDescriptionPath,
                      "<root><device><friendlyName>Sonos One</friendlyName>" +
                          (roomName.isNull() ? QByteArray() : "<roomName>" + roomName + "</roomName>") +
                          (udn.isNull() ? QByteArray() : "<UDN>" + udn + "</UDN>") + "</device></root>"}};
    }

    QString host() const { return m_server.serverAddress().toString(); }
    quint16 port() const { return m_server.serverPort(); }
    QString descriptionUrl() const { return u"http://%1:%2"_s.arg(host()).arg(port()) + kDescriptionPath; }

    static inline const QString kDescriptionPath = u"/xml/device_description.xml"_s;
    // What the player reports by action: the inner XML of its response element, as sent,
    // escaped where a real player escapes. A GET for a path answers with the response stored
    // under that path.
    QHash<QString, QByteArray> responses{
        {u"GetMediaInfo"_s,
         "<NrTracks>12</NrTracks><CurrentURI>x-sonosapi-stream:s24940?sid=254&amp;flags=8224</CurrentURI>"
         "<CurrentURIMetaData>&lt;DIDL-Lite&gt;&lt;item id=&quot;-1&quot;&gt;&lt;dc:title&gt;Ann &amp;amp; Bo"
         "&lt;/dc:title&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;</CurrentURIMetaData>"},
        {u"GetPositionInfo"_s, "<Track>5</Track><RelTime>0:02:17</RelTime>"},
        {u"GetTransportInfo"_s, "<CurrentTransportState>PLAYING</CurrentTransportState>"},
        {u"GetVolume"_s, "<CurrentVolume>23</CurrentVolume>"},
    };
    QHash<QString, Behaviour> behaviour; // by action or GET path; Answer when absent
    QList<Request> requests;
    QStringList actions; // the SOAP action of each request, empty for GET

private:
    void onData(QTcpSocket *socket, QByteArray &buffer)
    {
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        const QByteArray head = buffer.left(headEnd);
        const qsizetype at = head.toLower().indexOf("\ncontent-length:");
        const qint64 length = at < 0 ? 0 : head.mid(at + 16).split('\r').first().trimmed().toLongLong();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
            return;
        const QString path = QString::fromLatin1(head.split(' ').value(1));
        const QString action = QString::fromLatin1(head).section(u'#', 1).section(u'"', 0, 0);
        requests.append({path, action, head, QString::fromUtf8(buffer.mid(headEnd + 4, length))});
        actions << action;

        const QString key = action.isEmpty() ? path : action;
        const QByteArray name = action.toUtf8();
        const QByteArray body =
            action.isEmpty()
                ? responses.value(key)
                : "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><u:" + name +
                      "Response>" + responses.value(key) + "</u:" + name + "Response></s:Body></s:Envelope>";
        const Behaviour mode = behaviour.value(key);
        if (mode == Behaviour::Hang) // the connection stays open and nothing is said
            return;
        // A fault carries the normal answer: only the status can reject it.
        const QByteArray status = mode == Behaviour::Fault ? "500 Internal Server Error" : "200 OK";
        const QByteArray reply = "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " +
                                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        socket->write(mode == Behaviour::Garbage
                          ? "\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>"
                          : reply);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};

} // namespace pealix::test
