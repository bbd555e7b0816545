#include "clipserver/ClipListener.h"

#include <QTimer>

#include <unistd.h>

namespace pealix {

namespace {
// After running out of descriptors, try again once some connections had time to end.
constexpr int acceptRetryDelayMs = 100;
} // namespace

ClipListener::ClipListener(Handler handler, QObject *parent) : QTcpServer(parent), m_handler(std::move(handler))
{
    // Speakers of a whole house may connect in the same instant.
    setListenBacklogSize(1024);
    connect(this, &QTcpServer::acceptError, this, &ClipListener::recoverFromAcceptError);
}

void ClipListener::incomingConnection(qintptr descriptor)
{
    if (m_handler)
        m_handler(descriptor);
    else
        ::close(static_cast<int>(descriptor));
}

void ClipListener::recoverFromAcceptError(QAbstractSocket::SocketError)
{
    // QTcpServer stops accepting after any accept error other than a temporary
    // one, such as running out of descriptors; a listener that silently stopped
    // would leave the remaining speakers without their clip.
    QTimer::singleShot(acceptRetryDelayMs, this, [this] {
        if (isListening())
            resumeAccepting();
    });
}

} // namespace pealix
