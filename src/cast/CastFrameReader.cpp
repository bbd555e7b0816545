#include "cast/CastFrameReader.h"

namespace pealix {

void CastFrameReader::append(QByteArrayView bytes)
{
    if (m_overflowed)
        return;
    // Consumed frames are dropped here, once per read, rather than once per frame,
    // so a read packed with tiny frames costs linear time.
    if (m_offset > 0) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes.data(), bytes.size());
}

std::optional<QByteArray> CastFrameReader::takeFrame()
{
    if (m_overflowed || buffered() < 4)
        return std::nullopt;
    const auto *head = reinterpret_cast<const uchar *>(m_buffer.constData() + m_offset);
    const quint32 length = quint32(head[0]) << 24 | quint32(head[1]) << 16 | quint32(head[2]) << 8 | head[3];
    if (qint64(length) > qint64(m_maxBodySize)) {
        m_buffer.clear();
        m_offset = 0;
        m_overflowed = true;
        return std::nullopt;
    }
    if (buffered() - 4 < qsizetype(length))
        return std::nullopt;
    QByteArray body = m_buffer.mid(m_offset + 4, qsizetype(length));
    m_offset += 4 + qsizetype(length);
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return body;
}

void CastFrameReader::clear()
{
    m_buffer.clear();
    m_offset = 0;
    m_overflowed = false;
}

} // namespace pealix
