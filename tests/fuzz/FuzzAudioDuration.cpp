// The length of whatever file lies in the messages folder.
#include "FuzzCheck.h"
#include "audio/AudioFileDuration.h"

#include <QFile>

#include <cmath>
#include <sys/mman.h>
#include <unistd.h>

using namespace pealix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An in-memory file, named through /proc so the real opening code runs.
    static const int fd = ::memfd_create("fuzz-audio", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    if (const auto seconds = audioFileDuration(path))
        FUZZ_CHECK(std::isfinite(*seconds) && *seconds >= 0);
    return 0;
}
