#pragma once

// Shared by the fuzz targets: a property that does not hold is a finding, and
// libFuzzer records the input that broke it when the process aborts.
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace pealix::fuzz {

// Takes pieces off the front of the fuzzer's input.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_bytes(reinterpret_cast<const char *>(data), qsizetype(size))
    {
    }

    bool atEnd() const { return m_offset >= m_bytes.size(); }
    quint8 byte() { return atEnd() ? 0 : quint8(m_bytes[m_offset++]); }
    quint32 number()
    {
        return quint32(byte()) | quint32(byte()) << 8 | quint32(byte()) << 16 | quint32(byte()) << 24;
    }
    // Up to the next 0 byte (or the end), the 0 dropped.
    QByteArray piece()
    {
        qsizetype end = m_bytes.indexOf('\0', m_offset);
        if (end < 0)
            end = m_bytes.size();
        const QByteArray piece = m_bytes.mid(m_offset, end - m_offset);
        m_offset = end + 1;
        return piece;
    }
    QByteArray rest()
    {
        const QByteArray rest = m_bytes.mid(m_offset);
        m_offset = m_bytes.size();
        return rest;
    }

private:
    QByteArray m_bytes;
    qsizetype m_offset = 0;
};

} // namespace pealix::fuzz
