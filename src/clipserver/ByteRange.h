#pragma once

#include <QStringView>
#include <QtGlobal>

namespace pealix {

// Which bytes of the clip one request asked for. `end` is inclusive.
struct ByteRange
{
    qint64 start = 0;
    qint64 end = 0;
    bool isPartial = false;       // answer 206 instead of 200
    bool isUnsatisfiable = false; // answer 416

    friend bool operator==(const ByteRange &, const ByteRange &) = default;
};

// Reads one header line such as "Range: bytes=0-1" against a clip of `total`
// bytes. An empty line, or any line that is not a Range header, asks for the
// whole clip. Only a single range is honoured; anything the parser does not
// understand falls back to the whole clip rather than an error, because
// speakers retry poorly after a 4xx.
ByteRange parseRange(QStringView rangeLine, qint64 total);

// An optional sign and one or more ASCII digits, fitting in 64 bits; nothing else.
bool parseDecimalInteger(QStringView text, qint64 *value);

} // namespace pealix
