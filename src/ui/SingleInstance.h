#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

class QLocalServer;
class QLocalSocket;

namespace pealix {

// One Pealix per user session. The first copy listens on a local socket in the
// user's runtime folder; a later copy hands it a command and ends.
//
// The protocol is one line each way: the client sends a command word and a
// newline ("show\n"); the running copy answers "ok\n" when it knows the
// command, "unknown\n" otherwise, and closes. Commands are registered by what
// handles them, so new ones ("talk") slot in beside "show".
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxCommandBytes = 64;
    static constexpr int ClientTimeoutMs = 2000;

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // "org.pealix.Pealix.instance" in $XDG_RUNTIME_DIR, or a name with the
    // user id in the temporary folder when there is no runtime folder.
    static QString defaultSocketPath();

    QString socketPath() const { return m_socketPath; }

    // True when this process is the one instance (it listens from now on);
    // false when another copy answers on the socket.
    bool claim();
    bool isListening() const;

    void acceptCommand(const QString &command) { m_commands.insert(command); }

    // A later copy: sends `command` to the running one and returns its answer
    // ("ok", "unknown"), or nothing when no copy answered in time.
    static std::optional<QString> send(const QString &socketPath, const QString &command,
                                       int timeoutMs = ClientTimeoutMs);

Q_SIGNALS:
    void commandReceived(const QString &command);

private:
    void serve(QLocalSocket *client);
    static bool answers(const QString &socketPath);

    QString m_socketPath;
    QLocalServer *m_server = nullptr;
    QSet<QString> m_commands;
};

} // namespace pealix
