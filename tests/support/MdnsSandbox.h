#pragma once

#include <QFile>
#include <QNetworkInterface>

#include <string>

namespace pealix::test {

// Why this process is not inside a sandbox namespace of the kind the tests'
// wrapper scripts make (loopback only, another namespace than process 1's);
// empty when it is. Anything that multicasts asks first.
inline std::string sandboxRefusal()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return "interface " + interface.name().toStdString() + " is not loopback";
    if (QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net")) ==
        QFile::symLinkTarget(QStringLiteral("/proc/1/ns/net")))
        return "running in the root network namespace";
    return {};
}

} // namespace pealix::test
