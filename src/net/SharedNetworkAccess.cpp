#include "net/SharedNetworkAccess.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>

namespace pealix::net {

QNetworkAccessManager &sharedNetworkAccess()
{
    // A QPointer rather than a plain static: the manager dies with the
    // application object, and a later application gets a fresh one.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        // Speakers are on the local network: a proxy from the environment
        // (http_proxy, all_proxy on a company laptop) could never reach them.
        manager->setProxy(QNetworkProxy::NoProxy);
    }
    return *manager;
}

} // namespace pealix::net
