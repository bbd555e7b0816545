#pragma once

#include <QFile>
#include <QNetworkInterface>

namespace pealix::test {

// Why this process is not inside a sandbox namespace made by a wrapper script
// that sets the environment variable `marker` to 1 (loopback only, another
// namespace than process 1's); empty when it is. Anything that multicasts asks first.
inline QString sandboxRefusal(const char *marker)
{
    if (qgetenv(marker) != "1")
        return QStringLiteral("%1 is not set: not started by the sandbox script").arg(QLatin1String(marker));
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return QStringLiteral("interface %1 is not loopback").arg(interface.name());
    if (QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net")) ==
        QFile::symLinkTarget(QStringLiteral("/proc/1/ns/net")))
        return QStringLiteral("running in the root network namespace");
    return {};
}

} // namespace pealix::test
