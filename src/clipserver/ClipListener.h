#pragma once

#include <QTcpServer>

#include <functional>

class QSocketNotifier;

namespace pealix {

// A listening socket that hands each accepted socket descriptor (non-blocking)
// straight to a callback. The clip connections drive their descriptors
// themselves, which spares a QTcpSocket (and its buffers) per request.
//
// It accepts by itself rather than through QTcpServer, so that it can stop
// between two accepts: when the callback answers false, no further client is
// taken off the kernel's queue until resume().
class ClipListener : public QTcpServer
{
    Q_OBJECT
public:
    // Returns whether to go on accepting.
    using Handler = std::function<bool(int descriptor)>;

    explicit ClipListener(Handler handler, QObject *parent = nullptr);
    ~ClipListener() override;

    // Listens on every local address (dual-stack where IPv6 exists) on a port
    // the system picks.
    bool listenAnywhere();

    void resume();
    // Stops listening for good.
    void shutDown();

private:
    void acceptPending();

    Handler m_handler;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pealix
