#include "clipserver/ClipConnection.h"

#include "clipserver/ClipBody.h"
#include "clipserver/ClipResponse.h"

#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/sendfile.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace pealix {

namespace {

constexpr qsizetype receiveChunk = 65536;
constexpr char headTerminator[] = "\r\n\r\n";

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

ClipConnection::ClipConnection(int descriptor, QPointer<QObject> server, std::shared_ptr<const ClipBody> payload,
                               Limits limits)
    : m_descriptor(descriptor), m_server(std::move(server)), m_payload(std::move(payload)), m_limits(limits)
{
    m_clock.start();
}

ClipConnection::~ClipConnection()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
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
    // A body or a second request behind the head is never read; remember it so
    // the close does not reset the connection under the client's feet.
    m_unreadInput = m_buffer.size() > headLength + 4;
    const ClipResponse response =
        buildClipResponse(QByteArrayView(m_buffer.constData(), headLength), m_payload ? m_payload->size() : 0);
    m_buffer = QByteArray();
    m_header = response.header;
    m_bodyStart = response.bodyStart;
    m_bodyLength = response.bodyLength;
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
                parts[count++] = {const_cast<char *>(m_payload->bytes().constData()) + m_bodyStart, size_t(bodyLeft)};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = count;
            // MSG_NOSIGNAL: a client that hung up must not take the process down with SIGPIPE.
            written = ::sendmsg(m_descriptor, &message, MSG_NOSIGNAL);
        } else if (headerLeft > 0) {
            // MSG_MORE holds the header back until the body joins it in full segments.
            written = ::send(m_descriptor, m_header.constData() + m_sent, size_t(headerLeft), MSG_NOSIGNAL | MSG_MORE);
        } else if (sealedCopy >= 0) {
            // sendfile() has no MSG_NOSIGNAL: hold SIGPIPE back on this thread
            // and take a pending one off the queue before letting signals in again.
            sigset_t pipeOnly;
            sigset_t previous;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
            off_t offset = off_t(m_bodyStart + bodySent);
            written = ::sendfile(m_descriptor, sealedCopy, &offset, size_t(bodyLeft));
            const int error = errno;
            if (written < 0 && error == EPIPE) {
                const timespec immediately{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &immediately);
            }
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            errno = error;
        } else {
            written = ::send(m_descriptor, m_payload->bytes().constData() + m_bodyStart + bodySent, size_t(bodyLeft),
                             MSG_NOSIGNAL);
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
    int pending = 0;
    if (!m_unreadInput && (::ioctl(m_descriptor, FIONREAD, &pending) != 0 || pending == 0)) {
        close();
        return;
    }
    // Closing with unread input makes the kernel send a reset, which can
    // destroy response bytes the client has not read yet. Half-close instead,
    // and wait (boundedly) for the client to finish.
    ::shutdown(m_descriptor, SHUT_WR);
    m_phase = Phase::Lingering;
    m_lingerStartMs = m_clock.elapsed();
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
        close();
        return;
    }
}

void ClipConnection::close()
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
    ::close(m_descriptor);
    m_descriptor = -1;
    m_payload.reset();
    m_buffer = QByteArray();
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
    m_lastProgressMs = m_clock.elapsed();
}

qint64 ClipConnection::millisecondsUntilDeadline() const
{
    const qint64 now = m_clock.elapsed();
    qint64 deadline = m_lastProgressMs + m_limits.idle.count();
    if (m_phase == Phase::ReadingHead)
        deadline = std::min<qint64>(deadline, m_limits.head.count());
    if (m_phase == Phase::Lingering)
        deadline = std::min<qint64>(deadline, m_lingerStartMs + m_limits.idle.count());
    return deadline - now;
}

void ClipConnection::armTimer()
{
    // One coarse timer per waiting connection; progress only moves the deadline,
    // which the timer reads when it fires.
    if (m_timerId == 0)
        m_timerId = startTimer(std::max<qint64>(millisecondsUntilDeadline(), 1), Qt::CoarseTimer);
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
    if (millisecondsUntilDeadline() <= 0) {
        close();
        return;
    }
    armTimer();
}

} // namespace pealix
