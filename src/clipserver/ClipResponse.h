#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace pealix {

// The answer to one request head: the header bytes and which slice of the clip
// follows them. The slice is described rather than copied so the connection can
// send header and body together without duplicating the clip.
struct ClipResponse
{
    QByteArray header;
    qint64 bodyStart = 0;
    qint64 bodyLength = 0;
    // The answer carries the clip or the part asked for (200 or 206, not HEAD).
    bool isFetch = false;
};

// The media type of every clip we publish.
inline constexpr char clipContentType[] = "audio/mp4";

// `head` is the request up to, not including, the blank line. Every path and
// every method is answered with the clip; only Range and HEAD change the answer.
ClipResponse buildClipResponse(QByteArrayView head, qint64 total);

} // namespace pealix
