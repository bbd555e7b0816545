#include "sonos/HttpExchange.h"

#include "net/SharedNetworkAccess.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <QCoro/QCoroNetworkReply>

#include <memory>

namespace pealix::sonos {

namespace {

struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};

// Errors that Qt reports for an HTTP status code rather than a failed transfer;
// the body of such an answer still arrived whole.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = error;
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError) ||
           error == QNetworkReply::ProtocolInvalidOperationError;
}

// What the client may hold for us between two reads.
constexpr qint64 kReadBufferBytes = 64 * 1024;

} // namespace

QCoro::Task<HttpResult> httpExchange(QNetworkRequest request, std::optional<QByteArray> post,
                                     HttpLimits limits, QPointer<QObject> owner)
{
    request.setTransferTimeout(static_cast<int>(limits.idleTimeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         limits.followRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                : QNetworkRequest::ManualRedirectPolicy);
    // Devices answer once; a pooled connection to a player that closes it
    // without saying so would only turn the next request into a failure.
    request.setRawHeader("Connection", "close");

    QNetworkAccessManager &manager = net::sharedNetworkAccess();
    std::unique_ptr<QNetworkReply, DeleteLater> reply(post ? manager.post(request, *post)
                                                           : manager.get(request));
    QNetworkReply *raw = reply.get();
    // The client reads from the socket only as fast as the bytes are taken out
    // here, so an endless body never piles up anywhere but in `body`. A POST
    // starts from the event loop, and a size set before that start is lost on
    // the way to the client's thread: so once more after it.
    raw->setReadBufferSize(kReadBufferBytes);
    QMetaObject::invokeMethod(
        raw, [raw] { raw->setReadBufferSize(kReadBufferBytes); }, Qt::QueuedConnection);

    auto cutOff = std::make_shared<bool>(false);
    auto body = std::make_shared<QByteArray>();
    const auto cutOffNow = [raw, cutOff, body] {
        if (*cutOff)
            return;
        *cutOff = true;
        *body = QByteArray();
        raw->abort();
    };
    // The declared length turns a large answer away before its body; received
    // bytes are counted as well, since a chunked answer declares nothing.
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, cutOffNow, max = limits.maxBodyBytes] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > max)
            cutOffNow();
    });
    const auto take = [raw, cutOff, body, cutOffNow, max = limits.maxBodyBytes] {
        if (*cutOff)
            return;
        if (body->size() + raw->bytesAvailable() > max) {
            cutOffNow();
            return;
        }
        body->append(raw->readAll());
    };
    QObject::connect(raw, &QNetworkReply::readyRead, raw, take);
    // The deadline belongs to the reply and goes with it. QTimer::singleShot
    // would only stop calling once the reply is gone: its timer object stays
    // registered until the deadline passes, one for every request that
    // answered in time, which many announcements in a row pile up.
    auto *deadline = new QTimer(raw);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadline, &QTimer::timeout, raw, cutOffNow);
    deadline->start(limits.totalTimeout);
    if (owner)
        QObject::connect(owner.data(), &QObject::destroyed, raw, cutOffNow);

    if (!raw->isFinished())
        co_await qCoro(raw).waitForFinished();

    HttpResult result;
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = raw->error();
    if (*cutOff || !status.isValid() || (error != QNetworkReply::NoError && !isStatusError(error)))
        co_return result;
    take();
    if (*cutOff)
        co_return result;
    result.answered = true;
    result.status = status.toInt();
    result.body = std::move(*body);
    co_return result;
}

} // namespace pealix::sonos
