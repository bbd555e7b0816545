#include "clipserver/ClipResponse.h"

#include "clipserver/ByteRange.h"

#include <QString>
#include <QStringList>

namespace pealix {

namespace {

QString findRangeLine(const QStringList &lines)
{
    // The request line takes part in the search too; it never matches in practice.
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("range:"), Qt::CaseInsensitive))
            return line;
    }
    return {};
}

} // namespace

ClipResponse buildClipResponse(QByteArrayView head, qint64 total)
{
    // Undecodable bytes become U+FFFD; they can only spoil the line they sit in.
    const QString text = QString::fromUtf8(head);
    // A lone LF is not a line break: only CR LF separates lines.
    const QStringList lines = text.split(QLatin1String("\r\n"), Qt::KeepEmptyParts);
    const QString requestLine = lines.isEmpty() ? QString() : lines.first();
    const QStringList pieces = requestLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString method = pieces.isEmpty() ? QStringLiteral("GET") : pieces.first().toUpper();

    const ByteRange range = parseRange(findRangeLine(lines), total);

    ClipResponse response;
    if (range.isUnsatisfiable) {
        response.header = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                          QByteArray::number(total) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        return response;
    }

    const qint64 length = total == 0 ? 0 : range.end - range.start + 1;
    QByteArray header;
    header.reserve(192);
    if (range.isPartial) {
        header += "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes ";
        header += QByteArray::number(range.start) + '-' + QByteArray::number(range.end) + '/' +
                  QByteArray::number(total) + "\r\n";
    } else {
        header += "HTTP/1.1 200 OK\r\n";
    }
    header += "Content-Type: ";
    header += clipContentType;
    header += "\r\nAccept-Ranges: bytes\r\nContent-Length: ";
    header += QByteArray::number(length);
    header += "\r\nConnection: close\r\n\r\n";
    response.header = header;
    response.isFetch = method != QLatin1String("HEAD");
    if (response.isFetch && length > 0) {
        response.bodyStart = range.start;
        response.bodyLength = length;
    }
    return response;
}

} // namespace pealix
