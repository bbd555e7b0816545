#pragma once

#include <QByteArray>
#include <QElapsedTimer>
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
class ClipConnection : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        // No bytes read or written for this long ends the connection.
        std::chrono::milliseconds idle;
        // The whole request head must have arrived within this time.
        std::chrono::milliseconds head;
    };

    // Takes ownership of `descriptor`, which must be a non-blocking socket.
    ClipConnection(int descriptor, QPointer<QObject> server, std::shared_ptr<const ClipBody> payload,
                   Limits limits);
    ~ClipConnection() override;

    // Serves the connection; the object deletes itself when done, possibly
    // before this returns.
    void start();

    // A request head longer than this without its blank line is refused.
    static constexpr qsizetype maximumHeadSize = 65536;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum class Phase { ReadingHead, Writing, Lingering, Closed };

    void readHead();
    void respond(qsizetype headLength);
    void writeResponse();
    // Bytes written by one system call, 0 when the socket is full, -1 on failure.
    qint64 writeSome();
    void finishResponse();
    void drainInput();
    void close();

    void watchRead();
    void watchWrite();
    void armTimer();
    void noteProgress();
    qint64 millisecondsUntilDeadline() const;

    int m_descriptor;
    QPointer<QObject> m_server;
    std::shared_ptr<const ClipBody> m_payload;
    Limits m_limits;
    Phase m_phase = Phase::ReadingHead;

    QByteArray m_buffer;
    QByteArray m_header;
    qint64 m_bodyStart = 0;
    qint64 m_bodyLength = 0;
    qint64 m_sent = 0;
    bool m_unreadInput = false;
    bool m_starting = false;

    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_timerId = 0;
    QElapsedTimer m_clock;
    qint64 m_lastProgressMs = 0;
    qint64 m_lingerStartMs = 0;
};

} // namespace pealix
