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

    auto cutOff = std::make_shared<bool>(false);
    const auto abortIfTooLarge = [raw, cutOff, max = limits.maxBodyBytes](qint64 size) {
        if (size > max && !*cutOff) {
            *cutOff = true;
            raw->abort();
        }
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, abortIfTooLarge] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            abortIfTooLarge(length.toLongLong());
    });
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw,
                     [abortIfTooLarge](qint64 received, qint64) { abortIfTooLarge(received); });
    QTimer::singleShot(limits.totalTimeout, raw, [raw, cutOff] {
        *cutOff = true;
        raw->abort();
    });
    if (owner)
        QObject::connect(owner.data(), &QObject::destroyed, raw, [raw, cutOff] {
            *cutOff = true;
            raw->abort();
        });

    if (!raw->isFinished())
        co_await qCoro(raw).waitForFinished();

    HttpResult result;
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = raw->error();
    if (*cutOff || !status.isValid() || (error != QNetworkReply::NoError && !isStatusError(error)))
        co_return result;
    result.answered = true;
    result.status = status.toInt();
    result.body = raw->readAll();
    if (result.body.size() > limits.maxBodyBytes)
        co_return HttpResult{};
    co_return result;
}

} // namespace pealix::sonos
