#include "support/FakeSonosPlayer.h"

#include <QRegularExpression>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace pealix::test {

static QByteArray httpResponse(int status, const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error") +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

FakeSonosPlayer::FakeSonosPlayer(const QHostAddress &address, quint16 port)
{
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket, buffer = QByteArray()]() mutable { onData(socket, buffer); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_server.listen(address, port);
}

QStringList FakeSonosPlayer::actions() const
{
    QStringList names;
    for (const Request &request : requests)
        names << request.action;
    return names;
}

void FakeSonosPlayer::onData(QTcpSocket *socket, QByteArray &buffer)
{
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    const QString head = QString::fromLatin1(buffer.left(headEnd));
    const auto header = [&head](const char *name) {
        const QRegularExpression line(u"^%1:\\s*(.*?)\\s*$"_s.arg(QLatin1String(name)),
                                      QRegularExpression::CaseInsensitiveOption |
                                          QRegularExpression::MultilineOption);
        return line.match(head).captured(1).toUtf8();
    };
    const qint64 length = header("Content-Length").toLongLong();
    if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
        return;
    const QByteArray soapAction = header("SOAPACTION");
    requests.append({head.section(u' ', 1, 1), soapAction, header("Content-Type"),
                     QString::fromUtf8(soapAction).section(u'#', 1).remove(u'"'),
                     QString::fromUtf8(buffer.mid(headEnd + 4, length))});
    const QByteArray reply = answer(requests.last());
    if (reply.isEmpty())
        return; // hang: keep the connection open, say nothing
    socket->write(reply);
    socket->disconnectFromHost();
}

QByteArray FakeSonosPlayer::answer(const Request &request) const
{
    if (request.action.isEmpty()) {
        if (!descriptions.contains(request.path))
            return httpResponse(404, {});
        const QByteArray description = descriptions.value(request.path);
        return description.isNull() ? description : httpResponse(200, description);
    }
    const QHash<QString, QString> answers{
        {u"GetMediaInfo"_s, u"<NrTracks>12</NrTracks><CurrentURI>%1</CurrentURI><CurrentURIMetaData>%2"
                            "</CurrentURIMetaData><NextURI></NextURI>"_s.arg(state.uri, state.metadata)},
        {u"GetPositionInfo"_s, u"<Track>%1</Track><TrackURI>x-file-cifs://nas/a.flac</TrackURI>"
                               "<RelTime>%2</RelTime>"_s.arg(state.track, state.relTime)},
        {u"GetTransportInfo"_s, u"<CurrentTransportState>%1</CurrentTransportState>"_s.arg(state.transportState)},
        {u"GetVolume"_s, u"<CurrentVolume>%1</CurrentVolume>"_s.arg(state.volume)},
        {u"GetZoneGroupState"_s, u"<ZoneGroupState>%1</ZoneGroupState>"_s.arg(zoneGroupState.toHtmlEscaped())},
    };
    const QByteArray body =
        u"<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
        "<u:%1Response xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">%2</u:%1Response>"
        "</s:Body></s:Envelope>"_s.arg(request.action, responses.value(request.action, answers.value(request.action)))
            .toUtf8();
    switch (behaviour.value(request.action)) {
    case Behaviour::Hang:
        return {};
    case Behaviour::Garbage:
        return "\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>";
    case Behaviour::Fault: // the normal answer under a fault status: only the status can reject it
        return httpResponse(500, body);
    default:
        return httpResponse(200, body);
    }
}

QByteArray FakeSonosPlayer::deviceDescription(const QString &roomName, const QString &udn)
{
    const auto element = [](const QString &tag, const QString &value) {
        return value.isNull() ? QString() : u"<%1>%2</%1>"_s.arg(tag, value);
    };
    return (u"<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>"
            "urn:schemas-upnp-org:device:ZonePlayer:1</deviceType><friendlyName>Sonos One</friendlyName>"_s +
            element(u"UDN"_s, udn) + element(u"roomName"_s, roomName) + u"</device></root>"_s)
        .toUtf8();
}

} // namespace pealix::test
