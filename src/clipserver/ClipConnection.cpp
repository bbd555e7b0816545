#include "clipserver/ClipConnection.h"

#include "clipserver/ClipBody.h"
#include "clipserver/ClipResponse.h"

#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace pealix {

namespace {

constexpr qsizetype receiveChunk = 65536;
constexpr char headTerminator[] = "\r\n\r\n";
// How often to look again for the client's acknowledgements once it has
// ended its side before they all arrived (rare: clients read, then close).
constexpr int acknowledgementPollMs = 20;

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

ClipConnection::ClipConnection(int descriptor, QHostAddress peer, QPointer<QObject> server,
                               std::shared_ptr<const ClipBody> payload, Limits limits)
    : m_descriptor(descriptor), m_peer(std::move(peer)), m_server(std::move(server)),
      m_payload(std::move(payload)), m_limits(limits)
{
    m_acceptedMs = steadyNowMs();
    m_lastProgressMs = m_acceptedMs;
}

ClipConnection::~ClipConnection()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

qint64 ClipConnection::steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 ClipConnection::lastUsefulMs() const
{
    // Bytes of a head that never ends are no use to anyone.
    return m_phase == Phase::ReadingHead ? m_acceptedMs : m_lastProgressMs;
}

bool ClipConnection::waitsOnClient() const
{
    // An empty send queue while writing means the next bytes are ours to send.
    return m_phase == Phase::Lingering || (m_phase == Phase::Writing && unacknowledgedBytes() != 0);
}

bool ClipConnection::hasUnreadInput() const
{
    int pending = 0;
    return ::ioctl(m_descriptor, FIONREAD, &pending) == 0 && pending > 0;
}

void ClipConnection::abort()
{
    close(CloseMode::Reset);
}

void ClipConnection::start()
{
    // The request usually arrives with the connection; reading at once saves a
    // round through the event loop, and when the whole exchange ends here the
    // object can go at once instead of through a posted deletion.
    m_starting = true;
    readHead();
    m_starting = false;
    if (m_phase == Phase::Closed)
        delete this;
}

void ClipConnection::readHead()
{
    if (m_phase != Phase::ReadingHead)
        return;
    if (!m_server) {
        // The server is gone: nobody wants new requests answered any more.
        close();
        return;
    }
    char chunk[receiveChunk];
    ssize_t received;
    do {
        received = ::recv(m_descriptor, chunk, sizeof(chunk), 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && wouldBlock(errno)) {
        watchRead();
        return;
    }
    if (received <= 0) {
        // Cut off or failed before the blank line: nothing to answer.
        close();
        return;
    }
    noteProgress();
    const qsizetype searchFrom = std::max<qsizetype>(0, m_buffer.size() - 3);
    m_buffer.append(chunk, received);
    const qsizetype end = m_buffer.indexOf(headTerminator, searchFrom);
    if (end >= 0) {
        respond(end);
        return;
    }
    if (m_buffer.size() > maximumHeadSize) {
        close();
        return;
    }
    watchRead();
}

void ClipConnection::respond(qsizetype headLength)
{
    const ClipResponse response = buildClipResponse(QByteArrayView(m_buffer.constData(), headLength),
                                                    m_payload ? m_payload->size() : 0);
    // A body or a second request behind the head is never answered; the linger
    // after the response reads it away.
    m_buffer = QByteArray();
    m_header = response.header;
    m_bodyStart = response.bodyStart;
    m_bodyLength = response.bodyLength;
    m_isFetch = response.isFetch;
    m_phase = Phase::Writing;
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    writeResponse();
}

void ClipConnection::writeResponse()
{
    const qint64 total = m_header.size() + m_bodyLength;
    while (m_sent < total) {
        const qint64 written = writeSome();
        if (written < 0) {
            close();
            return;
        }
        if (written == 0) {
            watchWrite();
            return;
        }
        m_sent += written;
        noteProgress();
    }
    finishResponse();
}

qint64 ClipConnection::writeSome()
{
    const qint64 headerLeft = m_header.size() - m_sent;
    const qint64 bodySent = std::max<qint64>(0, m_sent - m_header.size());
    const qint64 bodyLeft = m_bodyLength - bodySent;
    const int sealedCopy = m_payload ? m_payload->descriptor() : -1;
    for (;;) {
        ssize_t written;
        if (headerLeft > 0 && (sealedCopy < 0 || bodyLeft == 0)) {
            // Header and body together from memory.
            iovec parts[2];
            int count = 0;
            parts[count++] = {const_cast<char *>(m_header.constData()) + m_sent, size_t(headerLeft)};
            if (bodyLeft > 0)
                parts[count++] = {const_cast<char *>(m_payload->bytes().constData()) + m_bodyStart,
                                  size_t(bodyLeft)};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = count;
            // MSG_NOSIGNAL: a client that hung up must not take the process down with SIGPIPE.
            written = ::sendmsg(m_descriptor, &message, MSG_NOSIGNAL);
        } else if (headerLeft > 0) {
            // MSG_MORE holds the header back until the body joins it in full segments.
            written = ::send(m_descriptor, m_header.constData() + m_sent, size_t(headerLeft),
                             MSG_NOSIGNAL | MSG_MORE);
        } else if (sealedCopy >= 0) {
            // sendfile() has no MSG_NOSIGNAL: hold SIGPIPE back on this thread
            // and take a pending one off the queue before letting signals in
            // again. It can be pending after a partial write too, when the
            // client reset the connection in the middle of the call.
            sigset_t pipeOnly;
            sigset_t previous;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
            off_t offset = off_t(m_bodyStart + bodySent);
            written = ::sendfile(m_descriptor, sealedCopy, &offset, size_t(bodyLeft));
            const int error = errno;
            sigset_t pending;
            if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
                const timespec immediately{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &immediately);
            }
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            errno = error;
        } else {
            written = ::send(m_descriptor, m_payload->bytes().constData() + m_bodyStart + bodySent,
                             size_t(bodyLeft), MSG_NOSIGNAL);
        }
        if (written >= 0)
            return written == 0 ? -1 : written;
        if (errno == EINTR)
            continue;
        return wouldBlock(errno) ? 0 : -1;
    }
}

void ClipConnection::finishResponse()
{
    m_payload.reset();
    m_header = QByteArray();
    // Closing now would leave the last bytes to the kernel, which resets
    // orphaned sockets when memory runs short, and a close with unread input
    // resets at once. Send our end after the data instead, and wait (boundedly)
    // for the client to end its side, reading away whatever it still sends.
    ::shutdown(m_descriptor, SHUT_WR);
    m_phase = Phase::Lingering;
    m_lingerStartMs = steadyNowMs();
    m_lastUnacknowledged = unacknowledgedBytes();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    drainInput();
}

void ClipConnection::drainInput()
{
    char chunk[receiveChunk];
    for (;;) {
        const ssize_t received = ::recv(m_descriptor, chunk, sizeof(chunk), 0);
        if (received > 0) {
            noteProgress();
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && wouldBlock(errno)) {
            watchRead();
            return;
        }
        if (received < 0) {
            // Reset: the client gave up before it had everything.
            close(CloseMode::Reset);
            return;
        }
        // The client's orderly end.
        m_peerEnded = true;
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        checkDelivered();
        return;
    }
}

void ClipConnection::checkDelivered()
{
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(m_descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(CloseMode::Reset);
        return;
    }
    const int unacknowledged = unacknowledgedBytes();
    // One byte left is our end-of-stream mark, which a client that closed
    // before it arrived acknowledges afterwards: the data itself is there.
    if (unacknowledged >= 0 && unacknowledged <= 1) {
        if (m_isFetch)
            Q_EMIT fetchCompleted(m_peer);
        close();
        return;
    }
    if (unacknowledged < m_lastUnacknowledged)
        noteProgress();
    m_lastUnacknowledged = unacknowledged;
    armTimer();
}

int ClipConnection::unacknowledgedBytes() const
{
    int queued = 0;
    return ::ioctl(m_descriptor, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

void ClipConnection::close(CloseMode mode)
{
    if (m_phase == Phase::Closed)
        return;
    m_phase = Phase::Closed;
    // Notifiers must let go of the descriptor before it is closed.
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (mode == CloseMode::Reset) {
        // Frees the kernel's buffers for this socket at once instead of
        // leaving an orphan to drain towards a client that does not read.
        const linger abortive{1, 0};
        ::setsockopt(m_descriptor, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    }
    ::close(m_descriptor);
    m_descriptor = -1;
    m_payload.reset();
    m_buffer = QByteArray();
    Q_EMIT closed(this);
    if (!m_starting)
        deleteLater();
}

void ClipConnection::watchRead()
{
    if (!m_readNotifier) {
        m_readNotifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
        connect(m_readNotifier, &QSocketNotifier::activated, this, [this] {
            if (m_phase == Phase::Lingering)
                drainInput();
            else
                readHead();
        });
    }
    m_readNotifier->setEnabled(true);
    armTimer();
}

void ClipConnection::watchWrite()
{
    if (!m_writeNotifier) {
        m_writeNotifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
            if (m_phase == Phase::Writing)
                writeResponse();
        });
    }
    m_writeNotifier->setEnabled(true);
    armTimer();
}

void ClipConnection::noteProgress()
{
    m_lastProgressMs = steadyNowMs();
}

qint64 ClipConnection::millisecondsUntilDeadline() const
{
    qint64 deadline = m_lastProgressMs + m_limits.idle.count();
    if (m_phase == Phase::ReadingHead)
        deadline = std::min<qint64>(deadline, m_acceptedMs + m_limits.head.count());
    if (m_phase == Phase::Lingering)
        deadline = std::min<qint64>(deadline, m_lingerStartMs + m_limits.head.count());
    return deadline - steadyNowMs();
}

void ClipConnection::armTimer()
{
    // One coarse timer per waiting connection; progress only moves the deadline,
    // which the timer reads when it fires.
    qint64 interval = std::max<qint64>(millisecondsUntilDeadline(), 1);
    if (m_peerEnded)
        interval = std::min<qint64>(interval, acknowledgementPollMs);
    if (m_timerId != 0 && interval < m_timerInterval) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (m_timerId == 0) {
        m_timerInterval = int(std::min<qint64>(interval, std::numeric_limits<int>::max()));
        m_timerId = startTimer(m_timerInterval, m_peerEnded ? Qt::PreciseTimer : Qt::CoarseTimer);
    }
}

void ClipConnection::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QObject::timerEvent(event);
        return;
    }
    killTimer(m_timerId);
    m_timerId = 0;
    if (m_phase == Phase::Closed)
        return;
    if (m_phase == Phase::Lingering) {
        // Acknowledgements are progress too: a slow reader is not a stalled one.
        const int unacknowledged = unacknowledgedBytes();
        if (unacknowledged >= 0 && unacknowledged < m_lastUnacknowledged)
            noteProgress();
        m_lastUnacknowledged = unacknowledged;
        if (m_peerEnded && millisecondsUntilDeadline() > 0) {
            checkDelivered();
            return;
        }
    }
    if (millisecondsUntilDeadline() <= 0) {
        // A client that stopped reading: whatever is still queued for it goes.
        close(m_phase == Phase::ReadingHead ? CloseMode::Orderly : CloseMode::Reset);
        return;
    }
    armTimer();
}

} // namespace pealix
