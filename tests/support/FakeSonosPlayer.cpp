#include "support/FakeSonosPlayer.h"

#include <QTcpSocket>

namespace pealix::test {

namespace {

QString escaped(QString text)
{
    text.replace(QLatin1String("&"), QLatin1String("&amp;"));
    text.replace(QLatin1String("<"), QLatin1String("&lt;"));
    text.replace(QLatin1String(">"), QLatin1String("&gt;"));
    text.replace(QLatin1String("\""), QLatin1String("&quot;"));
    return text;
}

QByteArray httpResponse(int status, const QByteArray &reason, const QByteArray &contentType,
                        const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nServer: Linux UPnP/1.0 Sonos/70.3-35220\r\n" + "Connection: close\r\n\r\n" + body;
}

} // namespace

QString FakeSonosPlayer::Request::argument(const QString &name) const
{
    const QString open = QLatin1Char('<') + name + QLatin1Char('>');
    const qsizetype from = body.indexOf(open);
    const qsizetype to = body.indexOf(QLatin1String("</") + name + QLatin1Char('>'));
    if (from < 0 || to < from)
        return QString();
    return body.mid(from + open.size(), to - from - open.size());
}

FakeSonosPlayer::FakeSonosPlayer(const QHostAddress &address, quint16 port, QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeSonosPlayer::onConnection);
    m_server.listen(address, port);
}

QStringList FakeSonosPlayer::actions() const
{
    QStringList names;
    for (const Request &request : m_requests)
        names << (request.action.isEmpty()
                      ? QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path
                      : request.action);
    return names;
}

void FakeSonosPlayer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
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
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
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
    const qsizetype hash = request.soapAction.indexOf('#');
    if (hash >= 0)
        request.action = QString::fromUtf8(request.soapAction.mid(hash + 1).chopped(1));
    m_buffers.remove(socket);
    m_requests.append(request);
    Q_EMIT requestReceived(request);
    answer(socket, request);
}

void FakeSonosPlayer::answer(QTcpSocket *socket, const Request &request)
{
    if (request.action.isEmpty()) {
        if (m_hangingPaths.contains(request.path))
            return;
        const auto description = m_descriptions.constFind(request.path);
        socket->write(description == m_descriptions.constEnd()
                          ? httpResponse(404, "Not Found", "text/plain", QByteArray())
                          : httpResponse(200, "OK", "text/xml", *description));
        socket->disconnectFromHost();
        return;
    }
    switch (m_behaviour.value(request.action, Behaviour::Answer)) {
    case Behaviour::Hang:
        return;
    case Behaviour::Garbage:
        socket->write("\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>");
        break;
    case Behaviour::Huge: {
        QByteArray body = soapBody(request.action);
        body.append(QByteArray(16 * 1024 * 1024, ' '));
        socket->write(httpResponse(200, "OK", "text/xml; charset=\"utf-8\"", body));
        break;
    }
    case Behaviour::Fault:
        // The normal answer under a fault status: only the status can reject it.
        socket->write(httpResponse(500, "Internal Server Error", "text/xml", soapBody(request.action)));
        break;
    case Behaviour::Answer:
        socket->write(httpResponse(200, "OK", "text/xml; charset=\"utf-8\"", soapBody(request.action)));
        break;
    }
    socket->disconnectFromHost();
}

QByteArray FakeSonosPlayer::soapBody(const QString &action) const
{
    QString inner;
    if (m_responses.contains(action)) {
        inner = m_responses.value(action);
    } else if (action == QLatin1String("GetMediaInfo")) {
        inner = QStringLiteral(
                    "<NrTracks>12</NrTracks><MediaDuration>NOT_IMPLEMENTED</MediaDuration><CurrentURI>") +
                state.uri + QStringLiteral("</CurrentURI><CurrentURIMetaData>") + state.metadata +
                QStringLiteral("</CurrentURIMetaData><NextURI></NextURI><NextURIMetaData></NextURIMetaData>"
                               "<PlayMedium>NETWORK</PlayMedium><RecordMedium>NOT_IMPLEMENTED</RecordMedium>"
                               "<WriteStatus>NOT_IMPLEMENTED</WriteStatus>");
    } else if (action == QLatin1String("GetPositionInfo")) {
        inner = QStringLiteral("<TrackURI>x-file-cifs://nas/Music/Track%2011.flac</TrackURI><Track>") +
                state.track +
                QStringLiteral("</Track><TrackDuration>0:04:05</TrackDuration><TrackMetaData>NOT_IMPLEMENTED"
                               "</TrackMetaData><RelTime>") +
                state.relTime +
                QStringLiteral("</RelTime><AbsTime>NOT_IMPLEMENTED</AbsTime><RelCount>2147483647</RelCount>"
                               "<AbsCount>2147483647</AbsCount>");
    } else if (action == QLatin1String("GetTransportInfo")) {
        inner = QStringLiteral("<CurrentTransportState>") + state.transportState +
                QStringLiteral("</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus>"
                               "<CurrentSpeed>1</CurrentSpeed>");
    } else if (action == QLatin1String("GetVolume")) {
        inner = QStringLiteral("<CurrentVolume>") + state.volume + QStringLiteral("</CurrentVolume>");
    } else if (action == QLatin1String("GetZoneGroupState")) {
        inner = QStringLiteral("<ZoneGroupState>") + escaped(zoneGroupState) +
                QStringLiteral("</ZoneGroupState>");
    }
    return QStringLiteral(
               "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
               "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:%1Response "
               "xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">%2</u:%1Response></s:Body>"
               "</s:Envelope>")
        .arg(action, inner)
        .toUtf8();
}

QString FakeSonosPlayer::twoGroupState(const QString &hostA, const QString &hostC)
{
    return QStringLiteral("<ZoneGroupState><ZoneGroups>"
                          "<ZoneGroup Coordinator=\"RINCON_A1400\" ID=\"RINCON_A1400:58\">"
                          "<ZoneGroupMember UUID=\"RINCON_A1400\" "
                          "Location=\"http://%1:1400/xml/device_description.xml\" "
                          "ZoneName=\"Living Room\" SoftwareVersion=\"70.3-35220\" Configuration=\"1\">"
                          "<Satellite UUID=\"RINCON_SL1400\" "
                          "Location=\"http://127.0.0.61:1400/xml/device_description.xml\" "
                          "ZoneName=\"Satellite Room\" Invisible=\"1\"/></ZoneGroupMember>"
                          "<ZoneGroupMember UUID=\"RINCON_B1400\" "
                          "Location=\"http://127.0.0.62:1400/xml/device_description.xml\" "
                          "ZoneName=\"Kitchen\"/></ZoneGroup>"
                          "<ZoneGroup Coordinator=\"RINCON_C1400\" ID=\"RINCON_C1400:12\">"
                          "<ZoneGroupMember UUID=\"RINCON_C1400\" "
                          "Location=\"http://%2:1400/xml/device_description.xml\" "
                          "ZoneName=\"Office\"/>"
                          "<ZoneGroupMember UUID=\"RINCON_SUB1400\" "
                          "Location=\"http://127.0.0.63:1400/xml/device_description.xml\" "
                          "ZoneName=\"Office Sub\" Invisible=\"1\"/></ZoneGroup>"
                          "</ZoneGroups><VanishedDevices></VanishedDevices></ZoneGroupState>")
        .arg(hostA, hostC);
}

QByteArray FakeSonosPlayer::deviceDescription(const QString &roomName, const QString &udn)
{
    QString device =
        QStringLiteral("<deviceType>urn:schemas-upnp-org:device:ZonePlayer:1</deviceType>"
                       "<friendlyName>127.0.0.1 - Sonos One</friendlyName>"
                       "<manufacturer>Sonos, Inc.</manufacturer><modelName>Sonos One</modelName>");
    if (!udn.isNull())
        device += QStringLiteral("<UDN>") + udn + QStringLiteral("</UDN>");
    if (!roomName.isNull())
        device += QStringLiteral("<roomName>") + roomName + QStringLiteral("</roomName>");
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<root "
                           "xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                           "<specVersion><major>1</major><minor>0</minor></specVersion><device>") +
            device + QStringLiteral("</device></root>"))
        .toUtf8();
}

} // namespace pealix::test
