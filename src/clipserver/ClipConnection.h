#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

class QSocketNotifier;

namespace pealix {

class ClipBody;

// One accepted connection of the clip server: reads one request head, writes
// one response and closes. It lives on its own once started, so a response in
// flight finishes even after the server has stopped or gone away; it holds
// its own reference to the clip it sends.
//
// The close waits until the client has the response: the connection
// half-closes and lingers, boundedly, until the client ends its side, so the
// last bytes are never left to an orphaned socket that the kernel may reset.
class ClipConnection : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        // No bytes read, written or acknowledged for this long ends the connection.
        std::chrono::milliseconds idle;
        // The whole request head must have arrived within this time; the
        // wait for the client's end after the response is bounded by it too.
        std::chrono::milliseconds head;
    };

    // Takes ownership of `descriptor`, which must be a non-blocking socket
    // connected to `peer`.
    ClipConnection(int descriptor, QHostAddress peer, QPointer<QObject> server,
                   std::shared_ptr<const ClipBody> payload, Limits limits);
    ~ClipConnection() override;

    // Serves the connection; the object deletes itself when done, possibly
    // before this returns.
    void start();

    // Ends the connection at once with a reset, throwing away whatever the
    // kernel still holds for it. Used to make room under a flood.
    void abort();

    const QHostAddress &peer() const { return m_peer; }
    // True once a whole request head has arrived (and is being answered).
    bool hasRequest() const { return m_phase != Phase::ReadingHead; }
    // The last moment (on the steady clock, in ms) the connection did
    // anything useful: its acceptance while it waits for a head, its last
    // progress afterwards.
    qint64 lastUsefulMs() const;
    // Whether the client, not this side, holds the response up: it has not
    // taken what was sent, or has it all yet keeps the connection open.
    bool waitsOnClient() const;
    // Whether received bytes wait in the kernel for this side to read them.
    bool hasUnreadInput() const;

    // A request head longer than this without its blank line is refused.
    static constexpr qsizetype maximumHeadSize = 65536;

    static qint64 steadyNowMs();

Q_SIGNALS:
    // Emitted once, from close(), just before the connection goes away.
    void closed(pealix::ClipConnection *connection);
    // The client ended its side after its TCP acknowledged every byte of a
    // response that carried the clip (a GET answered 200 or 206).
    void fetchCompleted(const QHostAddress &peer);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum class Phase { ReadingHead, Writing, Lingering, Closed };
    enum class CloseMode { Orderly, Reset };

    void readHead();
    void respond(qsizetype headLength);
    void writeResponse();
    // Bytes written by one system call, 0 when the socket is full, -1 on failure.
    qint64 writeSome();
    void finishResponse();
    void drainInput();
    void checkDelivered();
    void close(CloseMode mode = CloseMode::Orderly);

    void watchRead();
    void watchWrite();
    void armTimer();
    void noteProgress();
    qint64 millisecondsUntilDeadline() const;
    // Response bytes (and our end-of-stream mark) the client's TCP has not acknowledged yet.
    int unacknowledgedBytes() const;

    int m_descriptor;
    QHostAddress m_peer;
    QPointer<QObject> m_server;
    std::shared_ptr<const ClipBody> m_payload;
    Limits m_limits;
    Phase m_phase = Phase::ReadingHead;

    QByteArray m_buffer;
    QByteArray m_header;
    qint64 m_bodyStart = 0;
    qint64 m_bodyLength = 0;
    qint64 m_sent = 0;
    bool m_isFetch = false;
    bool m_starting = false;
    // The client has ended its side; what is left is waiting for its acknowledgements.
    bool m_peerEnded = false;
    int m_lastUnacknowledged = 0;

    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_timerId = 0;
    int m_timerInterval = 0;
    qint64 m_acceptedMs = 0;
    qint64 m_lastProgressMs = 0;
    qint64 m_lingerStartMs = 0;
};

} // namespace pealix
