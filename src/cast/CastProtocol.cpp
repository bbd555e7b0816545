#include "cast/CastProtocol.h"

#include <QStringDecoder>

#include <optional>

namespace pealix::CastProtocol {

namespace {

enum WireType : quint64 { Varint = 0, Fixed64 = 1, LengthDelimited = 2, Fixed32 = 5 };

enum Field : quint64 {
    ProtocolVersion = 1,
    SourceId = 2,
    DestinationId = 3,
    Namespace = 4,
    PayloadType = 5,
    PayloadUtf8 = 6
};

// A read position over untrusted bytes; every read reports running out instead of
// reading past the end.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    bool atEnd() const { return m_pos >= m_bytes.size(); }

    std::optional<quint64> varint()
    {
        quint64 value = 0;
        int shift = 0;
        while (m_pos < m_bytes.size()) {
            const auto byte = static_cast<quint8>(m_bytes[m_pos++]);
            // Groups that would land beyond bit 63 carry nothing we could hold.
            if (shift < 64) {
                value |= quint64(byte & 0x7F) << shift;
                shift += 7;
            }
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    // Skips `count` bytes; false when fewer remain.
    bool skip(quint64 count)
    {
        const quint64 remaining = quint64(m_bytes.size() - m_pos);
        if (count > remaining) {
            m_pos = m_bytes.size();
            return false;
        }
        m_pos += qsizetype(count);
        return true;
    }

    // The next `length` bytes, or whatever is left when fewer remain.
    QByteArrayView take(quint64 length)
    {
        const quint64 remaining = quint64(m_bytes.size() - m_pos);
        const auto count = qsizetype(qMin(length, remaining));
        const QByteArrayView value = m_bytes.sliced(m_pos, count);
        m_pos += count;
        return value;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

QString utf8Repaired(QByteArrayView bytes)
{
    // The decoder's default flags substitute U+FFFD for every invalid sequence.
    QStringDecoder decoder(QStringDecoder::Utf8);
    return decoder.decode(bytes);
}

} // namespace

void appendVarint(quint64 value, QByteArray &out)
{
    while (value >= 0x80) {
        out.append(char((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

void appendStringField(int field, const QString &value, QByteArray &out)
{
    const QByteArray bytes = value.toUtf8();
    out.append(char((field << 3) | LengthDelimited));
    appendVarint(quint64(bytes.size()), out);
    out.append(bytes);
}

QByteArray encode(const QString &source, const QString &destination, const QString &namespace_,
                  const QString &payload)
{
    QByteArray body;
    body.append(char((ProtocolVersion << 3) | Varint)).append('\0');
    appendStringField(SourceId, source, body);
    appendStringField(DestinationId, destination, body);
    appendStringField(Namespace, namespace_, body);
    body.append(char((PayloadType << 3) | Varint)).append('\0');
    appendStringField(PayloadUtf8, payload, body);

    const auto length = quint32(body.size());
    QByteArray frame;
    frame.reserve(4 + body.size());
    frame.append(char(length >> 24))
        .append(char(length >> 16))
        .append(char(length >> 8))
        .append(char(length));
    frame.append(body);
    return frame;
}

Message decode(QByteArrayView body)
{
    Message message;
    Reader reader(body);
    while (!reader.atEnd()) {
        const auto key = reader.varint();
        if (!key)
            break;
        const quint64 field = *key >> 3;
        const quint64 wireType = *key & 7;
        if (wireType == Varint) {
            if (!reader.varint())
                break;
        } else if (wireType == Fixed64) {
            if (!reader.skip(8))
                break;
        } else if (wireType == Fixed32) {
            if (!reader.skip(4))
                break;
        } else if (wireType == LengthDelimited) {
            const auto length = reader.varint();
            if (!length)
                break;
            const QByteArrayView value = reader.take(*length);
            switch (field) {
            case SourceId:
                message.source = utf8Repaired(value);
                break;
            case DestinationId:
                message.destination = utf8Repaired(value);
                break;
            case Namespace:
                message.namespace_ = utf8Repaired(value);
                break;
            case PayloadUtf8:
                message.payload = utf8Repaired(value);
                break;
            default:
                break; // binary payload and fields we do not know
            }
        } else {
            break; // groups and reserved wire types: nothing after them can be trusted
        }
    }
    return message;
}

} // namespace pealix::CastProtocol
