#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <chrono>

namespace pealix::sonos {

// Bounds for one request to an untrusted device.
struct HttpLimits
{
    // Abort after this long without a byte moving in either direction.
    std::chrono::milliseconds idleTimeout{5000};
    // Abort after this long in all, even while bytes still trickle in.
    std::chrono::milliseconds totalTimeout{30000};
    // A larger answer is dropped whole rather than buffered.
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    bool followRedirects = false;
};

struct HttpResult
{
    // True when a complete HTTP response arrived within the limits.
    bool answered = false;
    int status = 0;
    QByteArray body;
};

// One HTTP exchange on the shared client: a POST when `post` holds a body,
// otherwise a GET. When `owner` is destroyed the request is aborted at once.
// Never throws; every failure is an unanswered result.
QCoro::Task<HttpResult> httpExchange(QNetworkRequest request, std::optional<QByteArray> post,
                                     HttpLimits limits, QPointer<QObject> owner = {});

} // namespace pealix::sonos
