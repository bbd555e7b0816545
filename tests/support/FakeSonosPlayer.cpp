#include "support/FakeSonosPlayer.h"

#include <QTcpSocket>

namespace pealix::test {

namespace {

QByteArray httpResponse(int status, const QByteArray &body, const QByteArray &type = "text/xml")
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error") +
           "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nServer: Linux UPnP/1.0 Sonos/70.3-35220\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

QString FakeSonosPlayer::Request::argument(const QString &name) const
{
    const QString open = QLatin1Char('<') + name + QLatin1Char('>');
    const qsizetype from = body.indexOf(open);
    const qsizetype to = body.indexOf(QLatin1String("</") + name + QLatin1Char('>'));
    return from < 0 || to < from ? QString() : body.mid(from + open.size(), to - from - open.size());
}

FakeSonosPlayer::FakeSonosPlayer(const QHostAddress &address, quint16 port)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
    m_server.listen(address, port);
}

QStringList FakeSonosPlayer::actions() const
{
    QStringList names;
    for (const Request &request : m_requests)
        names << (request.action.isEmpty() ? QString::fromLatin1(request.method + ' ') + request.path
                                           : request.action);
    return names;
}

void FakeSonosPlayer::onData(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Request request;
    qint64 length = 0;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = QString::fromUtf8(requestLine.value(1));
    for (const QByteArray &line : lines.mid(1)) {
        const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
        if (name == "content-length")
            length = value.toLongLong();
        else if (name == "soapaction")
            request.soapAction = value;
        else if (name == "content-type")
            request.contentType = value;
    }
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = QString::fromUtf8(buffer.mid(headEnd + 4, length));
    if (const qsizetype hash = request.soapAction.indexOf('#'); hash >= 0)
        request.action = QString::fromUtf8(request.soapAction.mid(hash + 1).chopped(1));
    m_buffers.remove(socket);
    m_requests.append(request);
    const QByteArray reply = answer(request);
    if (reply.isEmpty())
        return; // hang: keep the connection open, say nothing
    socket->write(reply);
    socket->disconnectFromHost();
}

QByteArray FakeSonosPlayer::answer(const Request &request) const
{
    if (request.action.isEmpty()) {
        const auto description = m_descriptions.constFind(request.path);
        if (description == m_descriptions.constEnd())
            return httpResponse(404, QByteArray(), "text/plain");
        return description->isNull() ? QByteArray() : httpResponse(200, *description);
    }
    const QByteArray utf8 = "text/xml; charset=\"utf-8\"";
    switch (m_behaviour.value(request.action, Behaviour::Answer)) {
    case Behaviour::Hang:
        return QByteArray();
    case Behaviour::Garbage:
        return "\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>";
    case Behaviour::Huge:
        return httpResponse(200, soapBody(request.action) + QByteArray(16 * 1024 * 1024, ' '), utf8);
    case Behaviour::Fault: // the normal answer under a fault status: only the status can reject it
        return httpResponse(500, soapBody(request.action));
    case Behaviour::Answer:
        break;
    }
    return httpResponse(200, soapBody(request.action), utf8);
}

QByteArray FakeSonosPlayer::soapBody(const QString &action) const
{
    QString inner;
    if (m_responses.contains(action))
        inner = m_responses.value(action);
    else if (action == QLatin1String("GetMediaInfo"))
        inner = "<NrTracks>12</NrTracks><MediaDuration>NOT_IMPLEMENTED</MediaDuration><CurrentURI>" +
                state.uri + "</CurrentURI><CurrentURIMetaData>" + state.metadata +
                "</CurrentURIMetaData><NextURI></NextURI><NextURIMetaData></NextURIMetaData>"
                "<PlayMedium>NETWORK</PlayMedium>";
    else if (action == QLatin1String("GetPositionInfo"))
        inner = "<TrackURI>x-file-cifs://nas/Music/Track%2011.flac</TrackURI><Track>" + state.track +
                "</Track><TrackDuration>0:04:05</TrackDuration><TrackMetaData>NOT_IMPLEMENTED</TrackMetaData>"
                "<RelTime>" +
                state.relTime + "</RelTime><AbsTime>NOT_IMPLEMENTED</AbsTime>";
    else if (action == QLatin1String("GetTransportInfo"))
        inner = "<CurrentTransportState>" + state.transportState +
                "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus>";
    else if (action == QLatin1String("GetVolume"))
        inner = "<CurrentVolume>" + state.volume + "</CurrentVolume>";
    else if (action == QLatin1String("GetZoneGroupState"))
        inner = "<ZoneGroupState>" + zoneGroupState.toHtmlEscaped() + "</ZoneGroupState>";
    return ("<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
            action + "Response xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">" + inner +
            "</u:" + action + "Response></s:Body></s:Envelope>")
        .toUtf8();
}

QString FakeSonosPlayer::twoGroupState(const QString &hostA, const QString &hostC)
{
    return QStringLiteral(
               "<ZoneGroupState><ZoneGroups><ZoneGroup Coordinator=\"RINCON_A1400\" ID=\"RINCON_A1400:58\">"
               "<ZoneGroupMember UUID=\"RINCON_A1400\" "
               "Location=\"http://%1:1400/xml/device_description.xml\" "
               "ZoneName=\"Living Room\" SoftwareVersion=\"70.3-35220\" Configuration=\"1\">"
               "<Satellite UUID=\"RINCON_SL1400\" "
               "Location=\"http://127.0.0.61:1400/xml/device_description.xml\" "
               "ZoneName=\"Satellite Room\" Invisible=\"1\"/></ZoneGroupMember>"
               "<ZoneGroupMember UUID=\"RINCON_B1400\" "
               "Location=\"http://127.0.0.62:1400/xml/device_description.xml\" "
               "ZoneName=\"Kitchen\"/></ZoneGroup><ZoneGroup Coordinator=\"RINCON_C1400\" "
               "ID=\"RINCON_C1400:12\">"
               "<ZoneGroupMember UUID=\"RINCON_C1400\" "
               "Location=\"http://%2:1400/xml/device_description.xml\" "
               "ZoneName=\"Office\"/><ZoneGroupMember UUID=\"RINCON_SUB1400\" "
               "Location=\"http://127.0.0.63:1400/xml/device_description.xml\" ZoneName=\"Office Sub\" "
               "Invisible=\"1\"/></ZoneGroup></ZoneGroups><VanishedDevices></VanishedDevices></"
               "ZoneGroupState>")
        .arg(hostA, hostC);
}

QByteArray FakeSonosPlayer::deviceDescription(const QString &roomName, const QString &udn)
{
    return ("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
            "<specVersion><major>1</major><minor>0</minor></specVersion><device><deviceType>"
            "urn:schemas-upnp-org:device:ZonePlayer:1</deviceType><friendlyName>127.0.0.1 - Sonos One"
            "</friendlyName><manufacturer>Sonos, Inc.</manufacturer><modelName>Sonos One</modelName>" +
            (udn.isNull() ? QString() : "<UDN>" + udn + "</UDN>") +
            (roomName.isNull() ? QString() : "<roomName>" + roomName + "</roomName>") + "</device></root>")
        .toUtf8();
}

} // namespace pealix::test
