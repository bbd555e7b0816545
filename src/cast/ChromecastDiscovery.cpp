#include "cast/ChromecastDiscovery.h"

#include "net/DnsSdBrowser.h"

#include <QHostAddress>
#include <QTimer>

#include <chrono>
#include <cmath>

namespace pealix {

namespace {

// QTimer counts in int milliseconds; a day is far beyond any sensible window.
std::chrono::milliseconds toDelay(double seconds)
{
    constexpr double MaxSeconds = 24.0 * 3600.0;
    if (!(seconds > 0.0))
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(std::llround(std::min(seconds, MaxSeconds) * 1000.0));
}

QString nonEmptyText(const std::optional<QByteArray> &value)
{
    return value ? QString::fromUtf8(*value) : QString();
}

} // namespace

ChromecastDiscovery::ChromecastDiscovery(QObject *parent)
    : ChromecastDiscovery(new net::DnsSdBrowser(ServiceType), parent)
{
}

ChromecastDiscovery::ChromecastDiscovery(net::ServiceBrowser *browser, QObject *parent)
    : QObject(parent), m_browser(browser)
{
    setObjectName(BrowseName);
    if (m_browser)
        m_browser->setParent(this);
}

ChromecastDiscovery::~ChromecastDiscovery()
{
    if (m_started)
        finishDiscovery();
}

QCoro::Task<QList<Speaker>> ChromecastDiscovery::discover(double timeoutSeconds)
{
    if (m_started)
        co_return QList<Speaker>{};
    m_started = true;
    // A copy: the result must reach us even if this object goes away meanwhile.
    const net::OneShot<QList<Speaker>> result = m_result;

    if (m_browser) {
        connect(m_browser, &net::ServiceBrowser::serviceFound, this, &ChromecastDiscovery::handleService);
        m_browser->start();
    }
    const auto window = toDelay(timeoutSeconds);
    // Precise: a coarse timer may fire up to 5 % early, cutting the window short.
    QTimer::singleShot(window, Qt::PreciseTimer, this, [this] {
        m_windowOver = true;
        finishIfIdle();
    });
    QTimer::singleShot(window + toDelay(GraceSeconds), Qt::PreciseTimer, this,
                       &ChromecastDiscovery::finishDiscovery);

    co_return co_await result;
}

void ChromecastDiscovery::handleService(const net::BrowsedService &service)
{
    // Once the window is over only the resolutions already running may still count.
    if (m_windowOver || m_finished)
        return;
    // The same instance is reported once per interface and protocol; resolve it once.
    const QString instance =
        service.name + QLatin1Char('\n') + service.type + QLatin1Char('\n') + service.domain;
    if (m_seenInstances.contains(instance))
        return;
    m_seenInstances.insert(instance);
    ++m_pending;
    resolveAndCollect(service, m_nextOrder++);
}

QCoro::Task<> ChromecastDiscovery::resolveAndCollect(net::BrowsedService service, qint64 order)
{
    QPointer<ChromecastDiscovery> self(this);
    const std::optional<net::ResolvedService> resolved = co_await resolve(service);
    if (!self || m_finished)
        co_return;
    if (resolved) {
        const Identity identity = identify(service.name, *resolved);
        const QString id = QStringLiteral("cast:") + identity.id;
        // The TXT id is known only after resolving, so two instances of one device
        // were both resolved; the one the browser reported first is kept.
        const auto existing = m_collected.constFind(id);
        if (existing == m_collected.cend() || existing->order > order) {
            m_collected.insert(
                id, Found{order, Speaker{id, SpeakerKind::Chromecast, identity.name,
                                         hostString(resolved->host), resolved->port, std::nullopt}});
        }
    }
    --m_pending;
    finishIfIdle();
}

QCoro::Task<std::optional<net::ResolvedService>> ChromecastDiscovery::resolve(net::BrowsedService service)
{
    if (!m_browser)
        co_return std::nullopt;
    net::OneShot<std::optional<net::ResolvedService>> result;
    // One context per resolution: its reply is dropped with it, and dropping it
    // (with this object) still ends the wait.
    auto *context = new QObject(this);
    context->setObjectName(ResolveName);
    connect(context, &QObject::destroyed, [result] { result.complete(std::nullopt); });
    m_browser->resolve(service, context, [result, context](std::optional<net::ResolvedService> resolved) {
        result.complete(std::move(resolved));
        context->deleteLater();
    });
    co_return co_await result;
}

void ChromecastDiscovery::finishIfIdle()
{
    if (m_windowOver && m_pending == 0)
        finishDiscovery();
}

void ChromecastDiscovery::finishDiscovery()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_browser) {
        m_browser->cancel();
        m_browser->deleteLater();
        m_browser = nullptr;
    }
    QList<Speaker> speakers;
    speakers.reserve(m_collected.size());
    for (const Found &found : std::as_const(m_collected))
        speakers << found.speaker;
    m_result.complete(std::move(speakers));
}

ChromecastDiscovery::Identity ChromecastDiscovery::identify(const QString &instanceName,
                                                            const net::ResolvedService &resolved)
{
    Identity identity{instanceName, instanceName};
    if (const QString id = nonEmptyText(resolved.txtValue("id")); !id.isEmpty())
        identity.id = id;
    if (const QString name = nonEmptyText(resolved.txtValue("fn")); !name.isEmpty())
        identity.name = name;
    return identity;
}

QString ChromecastDiscovery::hostString(const QString &host)
{
    const QString bare = host.section(QLatin1Char('%'), 0, 0);
    QHostAddress address;
    if (!address.setAddress(bare))
        return host;
    return address.toString();
}

} // namespace pealix
