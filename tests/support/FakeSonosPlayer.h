#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

namespace pealix::test {

// A Sonos player on a loopback address: records every request, answers SOAP
// actions with bodies shaped like a real player's, serves device descriptions
// for GET, and can misbehave per action. One request per connection.
class FakeSonosPlayer
{
public:
    enum class Behaviour { Answer, Fault, Hang, Garbage };

    struct Request
    {
        QString path;
        QByteArray soapAction;
        QByteArray contentType;
        QString action; // the name after "#" in SOAPACTION; empty for GET
        QString body;
    };

    // What the player reports, as XML text (escaped where a real player escapes).
    struct State
    {
        QString uri = QStringLiteral("x-sonosapi-stream:s24940?sid=254&amp;flags=8224");
        QString metadata = QStringLiteral("&lt;DIDL-Lite&gt;&lt;item id=&quot;-1&quot;&gt;&lt;dc:title&gt;"
                                          "Ann &amp;amp; Bo&lt;/dc:title&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;");
        QString track = QStringLiteral("5");
        QString relTime = QStringLiteral("0:02:17");
        QString transportState = QStringLiteral("PLAYING");
        QString volume = QStringLiteral("23");
    };

    explicit FakeSonosPlayer(const QHostAddress &address, quint16 port = 0);

    bool isListening() const { return m_server.isListening(); }
    QString host() const { return m_server.serverAddress().toString(); }
    quint16 port() const { return m_server.serverPort(); }
    QStringList actions() const;

    State state;
    QString zoneGroupState;                  // unescaped; escaped when sent
    QHash<QString, Behaviour> behaviour;     // by action; Answer when absent
    QHash<QString, QString> responses;       // by action: the inner XML of the response element
    QHash<QString, QByteArray> descriptions; // by GET path; a null body never answers
    QList<Request> requests;

    // Omits UDN or roomName when null.
    static QByteArray deviceDescription(const QString &roomName, const QString &udn);

private:
    void onData(QTcpSocket *socket, QByteArray &buffer);
    QByteArray answer(const Request &request) const;

    QTcpServer m_server;
};

} // namespace pealix::test
