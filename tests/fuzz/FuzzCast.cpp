// Cast frames from a device: decoding never fails, encoding then decoding gives
// the message back, and the frame reader cuts any stream, however it arrives,
// exactly as a plain reference splitter does.
#include "FuzzCheck.h"
#include "cast/CastFrameReader.h"
#include "cast/CastProtocol.h"

#include <QList>

using namespace pealix;

namespace {

constexpr qsizetype maxBody = 4096;

// The frames of `stream` read front to back in one go; `overflowed` when a
// length above the limit stops it.
QList<QByteArray> referenceFrames(const QByteArray &stream, bool *overflowed)
{
    QList<QByteArray> frames;
    *overflowed = false;
    qsizetype at = 0;
    while (stream.size() - at >= 4) {
        const quint32 length = quint32(quint8(stream[at])) << 24 | quint32(quint8(stream[at + 1])) << 16 |
                               quint32(quint8(stream[at + 2])) << 8 | quint32(quint8(stream[at + 3]));
        if (length > quint32(maxBody)) {
            *overflowed = true;
            break;
        }
        if (stream.size() - at - 4 < qsizetype(length))
            break;
        frames.append(stream.mid(at + 4, length));
        at += 4 + length;
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const QByteArray body = input.piece();
    CastProtocol::decode(body);

    const QString source = QString::fromUtf8(input.piece());
    const QString destination = QString::fromUtf8(input.piece());
    const QString namespace_ = QString::fromUtf8(input.piece());
    const QString payload = QString::fromUtf8(input.piece());
    const QByteArray frame = CastProtocol::encode(source, destination, namespace_, payload);
    FUZZ_CHECK(frame.size() >= 4);
    const CastProtocol::Message message = CastProtocol::decode(QByteArrayView(frame).sliced(4));
    FUZZ_CHECK((message == CastProtocol::Message{source, destination, namespace_, payload}));

    // The rest is a stream; its first bytes say how it is cut into arrivals.
    const quint8 cut = input.byte();
    const QByteArray stream = input.rest();
    bool referenceOverflowed = false;
    const QList<QByteArray> expected = referenceFrames(stream, &referenceOverflowed);
    CastFrameReader reader(maxBody);
    QList<QByteArray> frames;
    qsizetype at = 0;
    int piece = 0;
    while (at < stream.size()) {
        const qsizetype length =
            std::min<qsizetype>(stream.size() - at, 1 + ((cut >> (piece++ % 8)) & 0x1f) * 37);
        reader.append(QByteArrayView(stream).sliced(at, length));
        at += length;
        while (const auto next = reader.takeFrame())
            frames.append(*next);
    }
    FUZZ_CHECK(frames == expected);
    FUZZ_CHECK(reader.overflowed() == referenceOverflowed);
    return 0;
}
