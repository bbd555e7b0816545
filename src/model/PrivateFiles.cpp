#include "model/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pealix {

bool makePrivateFolder(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!QFileInfo(absolute).isDir()) {
        // Folders above it first, each made private as it is made (an existing one is left as it is).
        const QString parent = QFileInfo(absolute).absolutePath();
        if (parent != absolute && !QFileInfo(parent).isDir() && !makePrivateFolder(parent))
            return false;
        if (::mkdir(QFile::encodeName(absolute).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    // mkdir's mode passes through the umask; chmod does not.
    return ::chmod(QFile::encodeName(absolute).constData(), 0700) == 0 && QFileInfo(absolute).isDir();
}

bool makePrivateFile(const QString &path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0600) == 0;
}

bool preparePrivateFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool made = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return made;
}

} // namespace pealix
