#include "support/MdnsSandbox.h"

#include <QFileInfo>
#include <QNetworkInterface>

namespace pealix::test {

bool insideMdnsSandbox(QString *reason)
{
    const auto refuse = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (qgetenv("PEALIX_MDNS_SANDBOX") != "1" || qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"))
        return refuse(QStringLiteral("not started by tests/discovery/mdns-sandbox.sh"));
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return refuse(QStringLiteral("interface %1 is not loopback: this is not a private namespace")
                              .arg(interface.name()));
    }
    // Readable as root: the namespace must differ from the one the machine booted in.
    const QString ours = QFileInfo(QStringLiteral("/proc/self/ns/net")).symLinkTarget();
    const QString boot = QFileInfo(QStringLiteral("/proc/1/ns/net")).symLinkTarget();
    if (!boot.isEmpty() && ours == boot)
        return refuse(QStringLiteral("running in the root network namespace"));
    return true;
}

} // namespace pealix::test
