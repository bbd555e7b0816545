#include "net/SharedNetworkAccess.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>

namespace pealix::net {

QNetworkAccessManager &sharedNetworkAccess()
{
    // A QPointer rather than a plain static: the manager dies with the
    // application object, and a later application gets a fresh one.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

} // namespace pealix::net
