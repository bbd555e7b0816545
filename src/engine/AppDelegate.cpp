#include "engine/AppDelegate.h"

#include "cast/CastSpeakerDiscovery.h"
#include "engine/Broadcaster.h"
#include "hotkey/HotkeyManager.h"
#include "model/MessageStore.h"
#include "sonos/SonosDiscovery.h"

namespace pealix {

namespace {

QCoro::Task<QList<Speaker>> discoverSonosSpeakers(double timeoutSeconds)
{
    // Lives in this coroutine's frame, so exactly as long as the discovery runs.
    SonosDiscovery discovery;
    co_return co_await discovery.discover(timeoutSeconds);
}

AppDelegate::Parts completed(AppDelegate::Parts parts)
{
    if (!parts.discoverSonos)
        parts.discoverSonos = discoverSonosSpeakers;
    if (!parts.discoverCast)
        parts.discoverCast = discoverCastSpeakers;
    if (!parts.preferences)
        parts.preferences = &Preferences::shared();
    if (!parts.broadcaster.preferences)
        parts.broadcaster.preferences = parts.preferences;
    if (!parts.makeHotkey)
        parts.makeHotkey = [](const HotkeyConfig &chord) { return std::make_unique<HotkeyManager>(chord); };
    return parts;
}

} // namespace

AppDelegate::AppDelegate(QObject *parent) : AppDelegate(Parts(), parent) {}

AppDelegate::AppDelegate(Parts parts, QObject *parent) : QObject(parent), m_parts(completed(std::move(parts)))
{
    m_speakers =
        std::make_unique<SpeakerStore>(m_parts.discoverSonos, m_parts.discoverCast, *m_parts.preferences);
    m_messages = m_parts.messagesFolder.isEmpty() ? std::make_unique<MessageStore>()
                                                  : std::make_unique<MessageStore>(m_parts.messagesFolder);
    m_broadcaster = std::make_unique<Broadcaster>(std::move(m_parts.broadcaster));
}

AppDelegate::~AppDelegate()
{
    // No key may reach a broadcaster that is being torn down.
    if (m_hotkey)
        m_hotkey->stop();
}

HotkeyManager &AppDelegate::hotkey()
{
    if (!m_hotkey)
        m_hotkey = m_parts.makeHotkey(m_parts.preferences->hotkey());
    return *m_hotkey;
}

void AppDelegate::launch()
{
    // The callbacks return at once; each starts its task from the event loop,
    // which reads the enabled speakers as they are then. The hotkey manager is
    // ours, so `this` outlives every callback.
    hotkey().setOnPress([this] {
        QMetaObject::invokeMethod(
            this, [this] { pressed(); }, Qt::QueuedConnection);
    });
    hotkey().setOnRelease([this] {
        QMetaObject::invokeMethod(
            this, [this] { released(); }, Qt::QueuedConnection);
    });
    hotkey().start();
    firstScan();
}

QCoro::Task<> AppDelegate::pressed()
{
    co_await m_broadcaster->startRecording(m_speakers->enabledSpeakers());
}

QCoro::Task<> AppDelegate::released()
{
    co_await m_broadcaster->stopAndSend(m_speakers->enabledSpeakers());
}

QCoro::Task<> AppDelegate::firstScan()
{
    co_await m_speakers->scan();
}

} // namespace pealix
