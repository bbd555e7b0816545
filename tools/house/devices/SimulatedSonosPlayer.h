#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace pealix::house {

using namespace Qt::StringLiterals;

// A Sonos player on one address. It keeps what it is doing (source and its
// metadata, queue track, position, play state, volume), lets the SOAP commands
// it receives change that as a player would, and reports it back escaped the
// way a player escapes it. It records every request, serves its device
// description for GET, fetches a clip it is told to play (HEAD, then the whole
// body), plays it for the length its MPEG-4 header declares and stops, and can
// misbehave per action. One request per connection. Whoever watches it hears
// of everything through `onEvent`.
class SimulatedSonosPlayer
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
        qint64 declaredLength = -1; // Content-Length of the answer, -1 when absent
        std::optional<std::chrono::steady_clock::time_point> firstBodyByte;
    };

    // Requests read and not yet answered, across every player that shares it.
    struct Concurrency
    {
        int open = 0;
        int peak = 0;
    };

    struct Event
    {
        enum class Kind {
            Request,     // a request arrived and is answered; `after`: the state it was answered from
            Changed,     // a command changed the state from `before` to `after`
            Refused,     // answered with a fault carrying `code`
            Unanswered,  // left hanging on purpose
            Fetched,     // one request of a clip fetch ended: `fetch`
            ClipStarted, // `url` plays for `length`; `fetch`: the GET that brought it
            ClipEnded,   // `url` stopped after `length`; `whole` when it reached its end
            ClipFailed,  // `url` could not be played; `code` says why
        };
        Kind kind = Kind::Request;
        QString action{}; // the SOAP action, or the GET path
        State before{}, after{};
        QString url{};
        std::chrono::milliseconds length{0};
        bool whole = false;
        Fetch fetch{};
        QByteArray code{};
    };

    static inline const QString kDescriptionPath = u"/xml/device_description.xml"_s;
    static inline const QString kPlaying = u"PLAYING"_s;
    static inline const QString kStopped = u"STOPPED"_s;

    explicit SimulatedSonosPlayer(const QHostAddress &address, quint16 port = 0);
    ~SimulatedSonosPlayer();
    SimulatedSonosPlayer(const SimulatedSonosPlayer &) = delete;
    SimulatedSonosPlayer &operator=(const SimulatedSonosPlayer &) = delete;

    bool isListening() const { return m_server.isListening(); }
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
    QHash<QString, Behaviour> behaviour;        // by action or GET path
    Behaviour otherActions = Behaviour::Answer; // SOAP actions that `behaviour` does not name
    QByteArray faultCode = "714";               // empty: a fault without an error code
    // A player that cannot play what it is sent: a source with an http(s) URI
    // is refused with 714 (illegal MIME type); other sources are taken.
    bool refusesClips = false;
    // The household's topology as plain XML, for GetZoneGroupState; unset, the action is unknown.
    std::function<QString()> zoneGroupState;
    std::chrono::milliseconds answerDelay{0};
    // How long a fetched clip plays; unset, the length its own header declares.
    std::optional<std::chrono::milliseconds> clipPlayTime;
    std::shared_ptr<Concurrency> concurrency = std::make_shared<Concurrency>();
    std::function<void(const Event &)> onEvent;
    // The address the player fetches clips from; the system's choice when null.
    QHostAddress fetchFrom;

    QList<Request> requests;
    QStringList actions; // the SOAP action of each request, empty for GET
    QList<Fetch> fetches;

private:
    struct Connection;
    struct Clip
    {
        QString url;
        std::chrono::steady_clock::time_point started;
        std::chrono::milliseconds length{0};
        bool playing = false;
    };

    void onData(QTcpSocket *socket, const std::shared_ptr<Connection> &connection);
    QByteArray answer(const QString &path, const QString &action, const QString &body);
    // The inner XML of the answer, or an error code for a fault.
    std::pair<QByteArray, QByteArray> perform(const QString &action, const QString &body);
    std::pair<QByteArray, QByteArray> command(const QString &action, const QString &body);
    void send(QTcpSocket *socket, const std::shared_ptr<Connection> &connection, const QByteArray &reply);
    void setTransportState(const QString &transportState);
    void startClip();
    void clipFetched(int generation, const QString &url, const Fetch &get, const QByteArray &body);
    void endClip(bool whole);
    void emitEvent(Event event) const;

    QTcpServer m_server;
    State m_state;
    std::chrono::steady_clock::time_point m_playingSince;
    int m_clipGeneration = 0;
    Clip m_clip;
};

} // namespace pealix::house
