#pragma once

#include <QByteArray>

#include <memory>

namespace pealix {

// The clip's bytes, immutable once made and shared by the server and every
// connection still sending them: letting go of the server's reference never
// frees bytes a response is reading.
//
// Beside the bytes it keeps a sealed in-memory file with the same content, so
// responses can go out with sendfile() straight from the page cache instead of
// being copied out of user memory for every request.
class ClipBody
{
public:
    static std::shared_ptr<const ClipBody> make(QByteArray bytes);
    ~ClipBody();

    ClipBody(const ClipBody &) = delete;
    ClipBody &operator=(const ClipBody &) = delete;

    const QByteArray &bytes() const { return m_bytes; }
    qint64 size() const { return m_bytes.size(); }
    // The sealed copy, or -1 when the system could not make one.
    int descriptor() const { return m_descriptor; }

private:
    explicit ClipBody(QByteArray bytes);

    QByteArray m_bytes;
    int m_descriptor = -1;
};

} // namespace pealix
