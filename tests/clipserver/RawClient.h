#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <functional>

namespace pealix::test {

// What a plain blocking socket client saw of one connection.
struct RawReply
{
    QByteArray received;
    bool closedByServer = false; // orderly end of stream or reset
    bool timedOut = false;       // the server neither answered nor closed in time
};

struct RawRequest
{
    // Each piece is written with its own send, Nagle off, so a head can arrive in fragments.
    QList<QByteArray> pieces;
    // Shut down our sending side afterwards, as a client that has said all it will.
    bool halfClose = false;
    int timeoutMs = 5000;
    bool ipv6 = false;
};

// Runs on a worker thread, so the caller's event loop keeps serving meanwhile.
RawReply rawExchange(quint16 port, const RawRequest &request);

// Runs `job` on a new thread while this thread's event loop keeps running.
void runOffMainThread(const std::function<void()> &job);

// Runs rawExchange on a worker thread and waits for it.
RawReply exchange(quint16 port, const RawRequest &request);
RawReply exchange(quint16 port, const QByteArray &request);

} // namespace pealix::test
