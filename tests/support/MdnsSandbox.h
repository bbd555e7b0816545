#pragma once

#include <QFile>
#include <QNetworkInterface>

namespace pealix::test {

// Why this process is not inside a sandbox namespace of the kind the tests'
// wrapper scripts make (loopback only, another namespace than process 1's);
// empty when it is. Anything that multicasts asks first.
inline QString sandboxRefusal()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return QStringLiteral("interface %1 is not loopback").arg(interface.name());
    if (QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net")) ==
        QFile::symLinkTarget(QStringLiteral("/proc/1/ns/net")))
        return QStringLiteral("running in the root network namespace");
    return {};
}

} // namespace pealix::test
