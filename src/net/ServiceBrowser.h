#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace pealix::net {

// One DNS-SD service instance as a browser reports it.
struct BrowsedService
{
    int interfaceIndex = -1; // -1: any
    int protocol = -1;       // -1: any
    QString name;            // the instance name, e.g. "Kitchen-1a2b"
    QString type;            // e.g. "_googlecast._tcp"
    QString domain;          // e.g. "local"

    friend bool operator==(const BrowsedService &, const BrowsedService &) = default;
};

// Where a service instance can be reached, and what it announces about itself.
struct ResolvedService
{
    QString host; // a numeric address as text
    quint16 port = 0;
    QList<QByteArray> txt; // the TXT record's strings, "key=value" or "key"

    // The value of the first string whose key matches `key` (keys ignore ASCII
    // case); an empty value for a key without "="; nothing when the key is absent.
    std::optional<QByteArray> txtValue(QByteArrayView key) const;
};

// Browses one service type and resolves what it finds. Failures of the
// underlying service are not reported: a browse that fails finds nothing, a
// resolution that fails yields no value.
class ServiceBrowser : public QObject
{
    Q_OBJECT

public:
    using ResolveDone = std::function<void(std::optional<ResolvedService>)>;

    using QObject::QObject;

    // serviceFound is emitted for each instance found from then on, once per
    // network interface and protocol on which it is seen.
    virtual void start() = 0;
    // Stops browsing; no serviceFound follows.
    virtual void cancel() = 0;
    // Calls `done` once, from the event loop, unless `context` is destroyed first.
    virtual void resolve(const BrowsedService &service, QObject *context, ResolveDone done) = 0;

Q_SIGNALS:
    void serviceFound(const pealix::net::BrowsedService &service);
};

} // namespace pealix::net

Q_DECLARE_METATYPE(pealix::net::BrowsedService)
