#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <chrono>
#include <memory>

class QTcpSocket;

namespace pealix::test {

using namespace Qt::StringLiterals;

// A Sonos player on a loopback address. It keeps what it is doing (source and
// its metadata, queue track, position, play state, volume), lets the SOAP
// commands it receives change that as a player would, and reports it back
// escaped the way a player escapes it. It records every request, serves device
// descriptions for GET, fetches a clip it is told to play (HEAD, then the whole
// body) and stops once the clip is over, and can misbehave per action. One
// request per connection.
class FakeSonosPlayer
{
public:
    // Fault: a UPnP fault (status 500, SOAP fault carrying `faultCode`).
    // Hang: the connection is accepted, the request read, nothing answered.
    // Garbage: bytes that are not HTTP, then the connection closes.
    enum class Behaviour { Answer, Fault, Hang, Garbage };

    // What the player is doing; texts are plain, not escaped.
    struct State
    {
        QString uri;
        QString metadata;
        int track = 0;
        std::chrono::milliseconds position{0};
        QString transportState = u"STOPPED"_s;
        int volume = 23;

        friend bool operator==(const State &, const State &) = default;
    };

    struct Request
    {
        QString path, action; // action: the name after "#" in SOAPACTION; empty for GET
        QByteArray head;      // request line and headers
        QString body;
        std::chrono::steady_clock::time_point at;
    };

    // One request the player made itself while fetching a clip.
    struct Fetch
    {
        QByteArray method;
        int status = 0; // 0 when no HTTP answer came
        qint64 bytes = 0;
    };

    // Requests read and not yet answered, across every player that shares it.
    struct Concurrency
    {
        int open = 0;
        int peak = 0;
    };

    static inline const QString kQueueUri = u"x-rincon-queue:RINCON_A1400#0"_s;
    static inline const QString kRadioUri = u"x-sonosapi-stream:s24940?sid=254&flags=8224"_s;
    static inline const QString kRadioMetadata =
        uR"(<DIDL-Lite><item id="-1"><dc:title>Ann &amp; Bo</dc:title></item></DIDL-Lite>)"_s;
    static inline const QString kDescriptionPath = u"/xml/device_description.xml"_s;

    // The situations a user leaves a player in.
    static State radio(const QString &transportState);
    static State queue(int track, std::chrono::seconds position, const QString &transportState);
    static State idle();

    explicit FakeSonosPlayer(const QHostAddress &address, quint16 port = 0);
    // A player that serves only its device description, which omits roomName or UDN when null.
    FakeSonosPlayer(const char *address, const QByteArray &roomName, const QByteArray &udn, quint16 port = 0);
    ~FakeSonosPlayer();

    QString host() const { return m_server.serverAddress().toString(); }
    quint16 port() const { return m_server.serverPort(); }
    QString descriptionUrl() const { return u"http://%1:%2"_s.arg(host()).arg(port()) + kDescriptionPath; }

    // Now, with the position advanced for the time spent playing.
    State state() const;
    void setState(const State &state);

    // Answers given as they are, by action (the inner XML of the response
    // element) or by GET path (the whole body); they take the place of what
    // the state would report, and a command answered this way changes nothing.
    QHash<QString, QByteArray> responses;
    QHash<QString, Behaviour> behaviour; // by action or GET path; Answer when absent
    QByteArray faultCode = "714";        // empty: a fault without an error code
    std::chrono::milliseconds answerDelay{0};
    // How long a fetched clip plays before the player stops.
    std::chrono::milliseconds clipPlayTime{300};
    std::shared_ptr<Concurrency> concurrency = std::make_shared<Concurrency>();

    QList<Request> requests;
    QStringList actions; // the SOAP action of each request, empty for GET
    QList<Fetch> fetches;

private:
    struct Connection;

    void onData(QTcpSocket *socket, const std::shared_ptr<Connection> &connection);
    // The inner XML of the answer, or an error code for a fault.
    std::pair<QByteArray, QByteArray> perform(const QString &action, const QString &body);
    void send(QTcpSocket *socket, const std::shared_ptr<Connection> &connection, const QByteArray &reply);
    void setTransportState(const QString &transportState);
    void startClip();
    void clipFetched(int generation, const Fetch &get);

    QTcpServer m_server;
    QNetworkAccessManager m_client;
    State m_state;
    std::chrono::steady_clock::time_point m_playingSince;
    int m_clipGeneration = 0;
};

} // namespace pealix::test
