#include "clipserver/ClipBody.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace pealix {

std::shared_ptr<const ClipBody> ClipBody::make(QByteArray bytes)
{
    return std::shared_ptr<const ClipBody>(new ClipBody(std::move(bytes)));
}

ClipBody::ClipBody(QByteArray bytes) : m_bytes(std::move(bytes))
{
    const int fd = ::memfd_create("pealix-clip", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return;
    qint64 written = 0;
    while (written < m_bytes.size()) {
        const ssize_t n = ::write(fd, m_bytes.constData() + written, size_t(m_bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return;
        }
        written += n;
    }
    // Sealed, the copy cannot drift from the bytes it mirrors.
    if (::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        ::close(fd);
        return;
    }
    m_descriptor = fd;
}

ClipBody::~ClipBody()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

} // namespace pealix
