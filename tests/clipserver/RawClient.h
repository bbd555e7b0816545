#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

namespace pealix::test {

// What a plain blocking socket client saw of one connection.
struct RawReply
{
    QByteArray received;
    bool closedByServer = false; // orderly end of stream or reset, not our timeout
};

struct RawRequest
{
    // Each piece is written on its own, Nagle off, so a head can arrive in fragments.
    QList<QByteArray> pieces;
    // Shut down our sending side afterwards, as a client that has said all it will.
    bool halfClose = false;
    int timeoutMs = 5000;
    bool ipv6 = false;
};

// Sends the request and reads until the server closes or the timeout passes.
// Blocks: call it off the thread whose event loop runs the server.
RawReply rawExchange(quint16 port, const RawRequest &request);

// Runs `job` on a new thread while this thread's event loop keeps running.
void runOffMainThread(const std::function<void()> &job);

// rawExchange on a worker thread.
RawReply exchange(quint16 port, const RawRequest &request);
inline RawReply exchange(quint16 port, const QByteArray &request)
{
    return exchange(port, RawRequest{{request}});
}

} // namespace pealix::test
