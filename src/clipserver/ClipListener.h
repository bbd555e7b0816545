#pragma once

#include <QTcpServer>

#include <functional>

namespace pealix {

// A listening socket that hands each accepted socket descriptor straight to a
// callback. The clip connections drive their descriptors themselves, which
// spares a QTcpSocket (and its buffers) per request.
class ClipListener : public QTcpServer
{
    Q_OBJECT
public:
    using Handler = std::function<void(qintptr descriptor)>;

    explicit ClipListener(Handler handler, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void recoverFromAcceptError(QAbstractSocket::SocketError error);

    Handler m_handler;
};

} // namespace pealix
