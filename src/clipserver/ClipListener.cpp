#include "clipserver/ClipListener.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace pealix {

namespace {
// After running out of descriptors, try again once some connections had time to end.
constexpr int acceptRetryDelayMs = 100;
} // namespace

ClipListener::ClipListener(Handler handler, QObject *parent)
    : QTcpServer(parent), m_handler(std::move(handler))
{
    // Speakers of a whole house may connect in the same instant.
    setListenBacklogSize(1024);
}

ClipListener::~ClipListener()
{
    shutDown();
}

void ClipListener::shutDown()
{
    // The notifier must let go of the descriptor before it is closed.
    delete m_notifier;
    m_notifier = nullptr;
    close();
}

bool ClipListener::listenAnywhere()
{
    // The dual-stack address: IPv4 clients (the URL speakers get is IPv4) and
    // IPv6 ones alike. Qt falls back to IPv4 alone where IPv6 is unavailable.
    if (!listen(QHostAddress::Any, 0))
        return false;
    // QTcpServer would accept everything queued in one go; we take over.
    pauseAccepting();
    m_notifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ClipListener::acceptPending);
    return true;
}

void ClipListener::resume()
{
    if (m_notifier && isListening())
        m_notifier->setEnabled(true);
}

void ClipListener::acceptPending()
{
    // The handler may shut the listener down; the loop checks before every accept.
    while (m_notifier) {
        const int descriptor =
            ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: a listener that silently stopped
                // would leave the remaining speakers without their clip.
                m_notifier->setEnabled(false);
                QTimer::singleShot(acceptRetryDelayMs, this, &ClipListener::resume);
            }
            return;
        }
        if (!m_handler(descriptor)) {
            if (m_notifier)
                m_notifier->setEnabled(false);
            return;
        }
    }
}

} // namespace pealix
