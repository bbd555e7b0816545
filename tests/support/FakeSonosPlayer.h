#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

namespace pealix::test {

// A small HTTP server standing in for a Sonos player on a loopback address. It
// records every request and answers the SOAP actions with bodies shaped like a
// real player's (escaped DIDL-Lite, an escaped zone group state), serves device
// descriptions for GET requests, and can misbehave per action. Each connection
// carries one request and is closed after the answer.
class FakeSonosPlayer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        Answer,  // 200 with the action's response body
        Fault,   // 500 with a UPnP fault body
        Hang,    // read the request, never answer, keep the connection open
        Garbage, // bytes that are not HTTP, then close
        Huge,    // 200 with a body far larger than any real answer
    };

    struct Request
    {
        QByteArray method;
        QString path;
        QByteArray soapAction; // the raw SOAPACTION header value
        QByteArray contentType;
        QString action; // the action named after "#" in SOAPACTION
        QString body;

        // The raw text of the first <name>...</name> in the body.
        QString argument(const QString &name) const;
    };

    // What the player reports, as XML text (already escaped where a real player escapes).
    struct State
    {
        QString uri = QStringLiteral("x-sonosapi-stream:s24940?sid=254&amp;flags=8224&amp;sn=0");
        QString metadata = QStringLiteral(
            "&lt;DIDL-Lite xmlns:dc=&quot;http://purl.org/dc/elements/1.1/&quot; "
            "xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/&quot;&gt;&lt;item id=&quot;-1&quot; "
            "parentID=&quot;-1&quot; restricted=&quot;true&quot;&gt;&lt;dc:title&gt;Radio Ann &amp;amp; "
            "Bo&lt;/dc:title&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;");
        QString track = QStringLiteral("5");
        QString relTime = QStringLiteral("0:02:17");
        QString transportState = QStringLiteral("PLAYING");
        QString volume = QStringLiteral("23");
    };

    explicit FakeSonosPlayer(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0,
                             QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    QString host() const { return m_server.serverAddress().toString(); }
    quint16 port() const { return m_server.serverPort(); }

    State state;
    // The unescaped ZoneGroupState text; escaped when it is sent.
    QString zoneGroupState;

    void setBehaviour(const QString &action, Behaviour behaviour) { m_behaviour.insert(action, behaviour); }
    // Replaces the inner XML of an action's response element.
    void setResponse(const QString &action, const QString &inner) { m_responses.insert(action, inner); }
    // Serves `body` for GET `path`; a path without a body hangs.
    void setDescription(const QString &path, const QByteArray &body) { m_descriptions.insert(path, body); }
    void setHangingPath(const QString &path) { m_hangingPaths.append(path); }

    const QList<Request> &requests() const { return m_requests; }
    QStringList actions() const;

    // A realistic zone group state with two groups, a ZoneGroups wrapper,
    // satellites and an invisible member.
    static QString twoGroupState(const QString &hostA, const QString &hostC);
    static QByteArray deviceDescription(const QString &roomName, const QString &udn);

Q_SIGNALS:
    void requestReceived(const pealix::test::FakeSonosPlayer::Request &request);

private:
    void onConnection();
    void onData(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    QByteArray soapBody(const QString &action) const;

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QString, Behaviour> m_behaviour;
    QHash<QString, QString> m_responses;
    QHash<QString, QByteArray> m_descriptions;
    QStringList m_hangingPaths;
    QList<Request> m_requests;
};

} // namespace pealix::test
