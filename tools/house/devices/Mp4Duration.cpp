#include "house/devices/Mp4Duration.h"

#include <QtEndian>

#include <limits>

namespace pealix::house {

namespace {

struct Box
{
    QByteArrayView type;
    QByteArrayView body;
};

quint32 read32(QByteArrayView bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.data() + at);
}

quint64 read64(QByteArrayView bytes, qsizetype at)
{
    return qFromBigEndian<quint64>(bytes.data() + at);
}

// The box of `type` among the boxes that fill `bytes`.
std::optional<QByteArrayView> findBox(QByteArrayView bytes, QByteArrayView type)
{
    qsizetype at = 0;
    while (bytes.size() - at >= 8) {
        quint64 size = read32(bytes, at);
        qsizetype header = 8;
        if (size == 1) { // a 64-bit size follows the type
            if (bytes.size() - at < 16)
                return std::nullopt;
            size = read64(bytes, at + 8);
            header = 16;
        } else if (size == 0) { // the box runs to the end
            size = quint64(bytes.size() - at);
        }
        if (size < quint64(header) || size > quint64(bytes.size() - at))
            return std::nullopt;
        if (bytes.sliced(at + 4, 4) == type)
            return bytes.sliced(at + header, qsizetype(size) - header);
        at += qsizetype(size);
    }
    return std::nullopt;
}

} // namespace

std::optional<double> mp4Duration(QByteArrayView file)
{
    const std::optional<QByteArrayView> movie = findBox(file, "moov");
    if (!movie)
        return std::nullopt;
    const std::optional<QByteArrayView> header = findBox(*movie, "mvhd");
    if (!header || header->isEmpty())
        return std::nullopt;
    // Version 0 keeps times in 32 bits, version 1 in 64; both put the time
    // scale after the creation and modification times.
    const int version = quint8(header->at(0));
    const qsizetype scaleAt = version == 1 ? 4 + 16 : 4 + 8;
    const qsizetype durationSize = version == 1 ? 8 : 4;
    if (version > 1 || header->size() < scaleAt + 4 + durationSize)
        return std::nullopt;
    const quint32 scale = read32(*header, scaleAt);
    const quint64 duration = version == 1 ? read64(*header, scaleAt + 4) : read32(*header, scaleAt + 4);
    const quint64 unknown = version == 1 ? std::numeric_limits<quint64>::max() : 0xffffffffu;
    if (scale == 0 || duration == unknown)
        return std::nullopt;
    return double(duration) / scale;
}

} // namespace pealix::house
