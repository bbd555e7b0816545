#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace pealix {

// Cuts a received byte stream into Cast frame bodies, strictly in arrival order.
// A frame is held until all of it has arrived. Its declared length comes from the
// device, so a length above the limit marks the stream as overflowed instead of
// making us hold (and allocate for) gigabytes.
class CastFrameReader
{
public:
    static constexpr qsizetype defaultMaxBodySize = 1024 * 1024;

    explicit CastFrameReader(qsizetype maxBodySize = defaultMaxBodySize) : m_maxBodySize(maxBodySize) {}

    void append(QByteArrayView bytes);

    // The next complete body, or none until more bytes arrive (or once overflowed).
    std::optional<QByteArray> takeFrame();

    // True once a frame announced a body larger than the limit; the stream
    // cannot be resynchronised after that.
    bool overflowed() const { return m_overflowed; }

    // Bytes received and not yet handed out.
    qsizetype buffered() const { return m_buffer.size() - m_offset; }

    void clear();

private:
    QByteArray m_buffer;
    qsizetype m_offset = 0; // start of the first unconsumed byte; compacted on append
    qsizetype m_maxBodySize;
    bool m_overflowed = false;
};

} // namespace pealix
