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

// A Sonos player on a loopback address: records every request, answers SOAP
// actions with bodies shaped like a real player's, serves device descriptions
// for GET, and can misbehave per action. One request per connection.
class FakeSonosPlayer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour { Answer, Fault, Hang, Garbage, Huge };

    struct Request
    {
        QByteArray method;
        QString path;
        QByteArray soapAction;
        QByteArray contentType;
        QString action; // the name after "#" in SOAPACTION
        QString body;

        // The raw text of the first <name>...</name> in the body.
        QString argument(const QString &name) const;
    };

    // What the player reports, as XML text (escaped where a real player escapes).
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

    explicit FakeSonosPlayer(const QHostAddress &address, quint16 port = 0);

    bool isListening() const { return m_server.isListening(); }
    QString host() const { return m_server.serverAddress().toString(); }
    quint16 port() const { return m_server.serverPort(); }

    State state;
    QString zoneGroupState; // unescaped; escaped when sent

    void setBehaviour(const QString &action, Behaviour behaviour) { m_behaviour.insert(action, behaviour); }
    // Replaces the inner XML of an action's response element.
    void setResponse(const QString &action, const QString &inner) { m_responses.insert(action, inner); }
    // Serves `body` for GET `path`; a null body never answers.
    void setDescription(const QString &path, const QByteArray &body) { m_descriptions.insert(path, body); }

    const QList<Request> &requests() const { return m_requests; }
    QStringList actions() const; // SOAP action names, or "GET /path"

    // Two groups in a ZoneGroups wrapper, with a satellite and an invisible member.
    static QString twoGroupState(const QString &hostA, const QString &hostC);
    // Omits UDN or roomName when null.
    static QByteArray deviceDescription(const QString &roomName, const QString &udn);

private:
    void onData(QTcpSocket *socket);
    QByteArray answer(const Request &request) const;
    QByteArray soapBody(const QString &action) const;

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QString, Behaviour> m_behaviour;
    QHash<QString, QString> m_responses;
    QHash<QString, QByteArray> m_descriptions;
    QList<Request> m_requests;
};

} // namespace pealix::test
