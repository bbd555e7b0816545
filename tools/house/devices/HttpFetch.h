#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QObject;

namespace pealix::house {

// One HTTP/1.1 request as a speaker makes it: from the speaker's own address
// (a device fetches from where it is, and a server may go by that), asking
// the server to close after the answer, and reading the whole of it.
struct HttpFetch
{
    struct Request
    {
        QUrl url;
        QByteArray method = "GET";
        QByteArray range; // the Range header's value; none when empty
        QByteArray userAgent;
        QHostAddress from; // the source address; the system's choice when null
        std::chrono::milliseconds timeout{5000};
    };

    struct Result
    {
        int status = 0; // 0: no HTTP answer (see `error`)
        qint64 contentLength = -1;
        QByteArray contentRange;
        QByteArray body;
        QString error;
        // When the first byte of the body arrived; unset without a body.
        std::optional<std::chrono::steady_clock::time_point> firstBodyByte;
    };

    // Starts the request; `done` runs once, from the event loop, unless
    // `context` is destroyed first.
    static void start(QObject *context, const Request &request, std::function<void(const Result &)> done);
};

} // namespace pealix::house
