#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>

namespace pealix {

class ClipBody;
class ClipListener;

// Publishes one clip over HTTP/1.1 for the length of one broadcast: every path
// answers with the clip, single byte ranges and HEAD are honoured, and each
// connection carries exactly one request. Listens on every local address
// (IPv4 and, where available, IPv6) on a port the system picks.
class ClipServer : public QObject
{
    Q_OBJECT
public:
    // A connection that neither receives nor sends for this long is closed.
    static constexpr std::chrono::milliseconds defaultIdleLimit{10'000};

    explicit ClipServer(QObject *parent = nullptr);
    explicit ClipServer(std::chrono::milliseconds idleLimit, QObject *parent = nullptr);
    ~ClipServer() override;

    // Loads the clip file and starts listening. Resolves with the bound port;
    // throws ClipServerError when the file cannot be read or no listening
    // socket can be opened. Called once per instance.
    QCoro::Task<quint16> start(QString clipPath);

    // Stops accepting connections and lets go of the clip. Responses already
    // under way finish with their bytes. Harmless on a stopped server.
    void stop();

    // The bound port while listening, 0 otherwise.
    quint16 port() const { return m_port; }

    std::chrono::milliseconds idleLimit() const { return m_idleLimit; }
    // Applies to connections accepted afterwards.
    void setIdleLimit(std::chrono::milliseconds limit);

private:
    void acceptConnection(qintptr descriptor);

    ClipListener *m_listener = nullptr;
    std::shared_ptr<const ClipBody> m_payload;
    quint16 m_port = 0;
    std::chrono::milliseconds m_idleLimit = defaultIdleLimit;
};

} // namespace pealix
