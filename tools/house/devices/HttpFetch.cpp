#include "house/devices/HttpFetch.h"

#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace pealix::house {

using namespace Qt::StringLiterals;

namespace {

// A clip is a short message; an answer longer than this is not one.
constexpr qint64 kLargestBody = 64 << 20;

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

struct Exchange : std::enable_shared_from_this<Exchange>
{
    HttpFetch::Request request;
    std::function<void(const HttpFetch::Result &)> done;
    QPointer<QObject> context;
    QTcpSocket *socket = nullptr;
    QByteArray received;
    qsizetype bodyStart = -1;
    HttpFetch::Result result;
    bool finished = false;

    void finish(const QString &error = {})
    {
        if (std::exchange(finished, true))
            return;
        const auto keep = shared_from_this(); // the connections that own us go now
        if (!error.isEmpty())
            result = {0, -1, {}, {}, error, {}};
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        if (context)
            done(result);
    }

    void read()
    {
        received += socket->readAll();
        if (bodyStart < 0) {
            const qsizetype end = received.indexOf("\r\n\r\n");
            if (end < 0)
                return received.size() > 65536 ? finish(u"the answer's head has no end"_s) : void();
            const QByteArray head = received.left(end);
            const QList<QByteArray> status = head.left(head.indexOf('\r')).split(' ');
            result.status = status.value(1).toInt();
            if (!head.startsWith("HTTP/1.") || result.status < 100)
                return finish(u"the answer is not HTTP"_s);
            const QByteArray length = header(head, "content-length");
            result.contentLength = length.isEmpty() ? -1 : length.toLongLong();
            result.contentRange = header(head, "content-range");
            bodyStart = end + 4;
        }
        if (!result.firstBodyByte && received.size() > bodyStart)
            result.firstBodyByte = std::chrono::steady_clock::now();
        if (received.size() - bodyStart > kLargestBody)
            return finish(u"the answer is longer than a clip can be"_s);
        const bool whole = request.method == "HEAD" ||
                           (result.contentLength >= 0 && received.size() - bodyStart >= result.contentLength);
        if (whole)
            complete();
    }

    void complete()
    {
        if (request.method != "HEAD")
            result.body = received.mid(bodyStart, result.contentLength >= 0 ? result.contentLength : -1);
        finish();
    }
};

} // namespace

void HttpFetch::start(QObject *context, const Request &request, std::function<void(const Result &)> done)
{
    auto exchange = std::make_shared<Exchange>();
    exchange->request = request;
    exchange->done = std::move(done);
    exchange->context = context;
    auto *socket = new QTcpSocket(context);
    exchange->socket = socket;
    socket->setProxy(QNetworkProxy::NoProxy);
    QObject::connect(socket, &QTcpSocket::connected, socket, [exchange] {
        const QUrl &url = exchange->request.url;
        QByteArray head =
            exchange->request.method + ' ' +
            (url.path(QUrl::FullyEncoded).isEmpty() ? "/" : url.path(QUrl::FullyEncoded).toLatin1()) +
            (url.hasQuery() ? '?' + url.query(QUrl::FullyEncoded).toLatin1() : QByteArray()) +
            " HTTP/1.1\r\nHost: " + url.host().toLatin1() + ':' + QByteArray::number(url.port(80)) +
            "\r\nAccept: */*\r\nConnection: close\r\n";
        if (!exchange->request.userAgent.isEmpty())
            head += "User-Agent: " + exchange->request.userAgent + "\r\n";
        if (!exchange->request.range.isEmpty())
            head += "Range: " + exchange->request.range + "\r\n";
        exchange->socket->write(head + "\r\n");
    });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [exchange] { exchange->read(); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, [exchange] {
        exchange->received += exchange->socket->readAll();
        if (exchange->bodyStart < 0)
            exchange->read();
        // Without a length, the body is whatever came before the server closed.
        if (exchange->bodyStart >= 0 && exchange->result.contentLength < 0)
            return exchange->complete();
        exchange->finish(exchange->bodyStart < 0 ? u"the server closed without an answer"_s
                                                 : u"the server closed before the whole body"_s);
    });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                     [exchange](QAbstractSocket::SocketError error) {
                         if (error != QAbstractSocket::RemoteHostClosedError)
                             exchange->finish(exchange->socket->errorString());
                     });
    QTimer::singleShot(request.timeout, socket,
                       [exchange] { exchange->finish(u"no whole answer in time"_s); });
    if (!request.from.isNull() && !socket->bind(request.from, 0)) {
        QTimer::singleShot(0, socket, [exchange] { exchange->finish(exchange->socket->errorString()); });
        return;
    }
    if (!request.url.isValid() || request.url.scheme() != u"http") {
        QTimer::singleShot(0, socket, [exchange] { exchange->finish(u"not an http URL"_s); });
        return;
    }
    socket->connectToHost(request.url.host(), quint16(request.url.port(80)));
}

} // namespace pealix::house
