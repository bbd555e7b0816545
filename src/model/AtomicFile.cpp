#include "model/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio> // renameat2
#include <fcntl.h>
#include <unistd.h>

namespace pealix {

namespace {
// Renames without replacing. renameat2 is atomic; file systems without it get
// link + unlink, which is just as safe against replacing an existing name.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}
} // namespace

CopyResult copyFileWithoutReplacing(const QString &source, const QString &target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return CopyResult::Failed;

    const QFileInfo targetInfo(target);
    QTemporaryFile temporary(targetInfo.absolutePath() + QStringLiteral("/.pealix-saving-XXXXXX"));
    if (!temporary.open())
        return CopyResult::Failed;

    QByteArray chunk;
    while (!(chunk = input.read(1 << 16)).isEmpty()) {
        if (temporary.write(chunk) != chunk.size())
            return CopyResult::Failed;
    }
    if (input.error() != QFileDevice::NoError || !temporary.flush() || ::fsync(temporary.handle()) != 0)
        return CopyResult::Failed;

    const int error = renameNoReplace(QFile::encodeName(temporary.fileName()), QFile::encodeName(target));
    if (error == EEXIST)
        return CopyResult::TargetExists;
    if (error != 0)
        return CopyResult::Failed;
    temporary.setAutoRemove(false); // it has its final name now
    return CopyResult::Copied;
}

} // namespace pealix
