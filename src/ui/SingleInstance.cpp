#include "ui/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <unistd.h>

namespace pealix {

namespace {
constexpr int LockWaitMs = 3000;
constexpr int ProbeTimeoutMs = 500;
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(QStringLiteral("org.pealix.Pealix.instance"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("org.pealix.Pealix.instance-%1").arg(::getuid()));
}

bool SingleInstance::answers(const QString &socketPath)
{
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    return probe.waitForConnected(ProbeTimeoutMs);
}

bool SingleInstance::claim()
{
    if (m_server)
        return true;
    // Two copies started together must not both find the socket free.
    QLockFile lock(m_socketPath + QStringLiteral(".lock"));
    lock.tryLock(LockWaitMs);
    if (answers(m_socketPath))
        return false;
    // Nobody answers: what is left is the socket of a copy that crashed.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection())
            serve(client);
    });
    // Without the socket this copy still runs; a second one then starts too.
    m_server->listen(m_socketPath);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::serve(QLocalSocket *client)
{
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // A client that never finishes its line is cut off.
    QTimer::singleShot(ClientTimeoutMs, client, [client] { client->abort(); });
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (!client->canReadLine()) {
            if (client->bytesAvailable() > MaxCommandBytes)
                client->abort();
            return;
        }
        const QString command = QString::fromUtf8(client->readLine(MaxCommandBytes + 1)).trimmed();
        const bool known = m_commands.contains(command);
        // The answer goes out before the command runs, however long that takes.
        client->write(known ? "ok\n" : "unknown\n");
        client->flush();
        client->disconnectFromServer();
        if (known)
            Q_EMIT commandReceived(command);
    });
}

std::optional<QString> SingleInstance::send(const QString &socketPath, const QString &command, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(command.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return std::nullopt;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
        if (socket.bytesAvailable() > MaxCommandBytes)
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine(MaxCommandBytes + 1)).trimmed();
}

} // namespace pealix
