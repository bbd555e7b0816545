#include "hotkey/HotkeyManager.h"

#include "hotkey/KeyEventSource.h"
#include "hotkey/LocalKeyEventSource.h"

namespace pealix {

namespace {

constexpr quint32 ChordModifierMask =
    HotkeyConfig::Command | HotkeyConfig::Shift | HotkeyConfig::Option | HotkeyConfig::Control;

// Key codes are 16-bit: a stored code beyond that names no key.
constexpr quint32 LargestKeyCode = 0xFFFF;

std::vector<std::unique_ptr<KeyEventSource>> platformSources()
{
    std::vector<std::unique_ptr<KeyEventSource>> sources;
    if (auto system = createSystemKeyEventSource())
        sources.push_back(std::move(system));
    sources.push_back(std::make_unique<LocalKeyEventSource>());
    return sources;
}

} // namespace

HotkeyManager::HotkeyManager(const HotkeyConfig &config, QObject *parent)
    : HotkeyManager(config, platformSources(), parent)
{
}

HotkeyManager::HotkeyManager(const HotkeyConfig &config, std::vector<std::unique_ptr<KeyEventSource>> sources,
                             QObject *parent)
    : QObject(parent), m_config(config), m_sources(std::move(sources))
{
}

HotkeyManager::~HotkeyManager()
{
    stop();
}

void HotkeyManager::start()
{
    stop();
    for (const auto &source : m_sources) {
        if (!source->start())
            continue;
        // The connection's context makes an event after our end a no-op.
        connect(source.get(), &KeyEventSource::keyEvent, this, &HotkeyManager::receive);
        m_monitors.push_back(source.get());
    }
}

void HotkeyManager::stop()
{
    for (KeyEventSource *source : m_monitors) {
        disconnect(source, &KeyEventSource::keyEvent, this, &HotkeyManager::receive);
        source->stop();
    }
    m_monitors.clear();
    m_isDown = false;
}

bool HotkeyManager::isMonitoring() const
{
    for (const KeyEventSource *source : m_monitors) {
        if (source->isGlobal() && source->isActive())
            return true;
    }
    return false;
}

QString HotkeyManager::monitoringProblem() const
{
    if (isMonitoring())
        return {};
    for (const auto &source : m_sources) {
        if (source->isGlobal() && !source->problem().isEmpty())
            return source->problem();
    }
    for (const auto &source : m_sources) {
        if (source->isGlobal())
            return QStringLiteral("The keyboard monitor is not running.");
    }
    return QStringLiteral("This desktop offers no way to watch the keyboard outside Pealix.");
}

quint32 HotkeyManager::chordModifiers(quint32 flags)
{
    return flags & ChordModifierMask;
}

void HotkeyManager::receive(const KeyEvent &event, bool pressed)
{
    // A keystroke in one of our own windows reaches both the system-wide and
    // the local source, in either order. A late copy of the press that began a
    // hold already released would begin a second hold; isDown alone cannot tell
    // it from a new press, the window system's time can.
    if (pressed && event.timestamp != 0 && event.timestamp == m_holdPressTime)
        return;
    handle(event, pressed);
}

void HotkeyManager::handle(const KeyEvent &event, bool pressed)
{
    if (m_config.keyCode > LargestKeyCode || event.keyCode != m_config.keyCode)
        return;
    const quint32 held = chordModifiers(event.modifiers);
    if (pressed) {
        if (m_isDown)
            return;
        // Bits outside the four modifiers name no key; requiring them would
        // make the chord impossible to press.
        const quint32 required = chordModifiers(m_config.modifiers);
        if ((required & held) != required)
            return;
        m_isDown = true;
        m_holdPressTime = event.timestamp;
        if (m_onPress)
            m_onPress();
    } else {
        if (!m_isDown)
            return;
        // The modifiers are not looked at: letting go of one before the key
        // keeps the hold, the key's own release ends it.
        m_isDown = false;
        if (m_onRelease)
            m_onRelease();
    }
}

} // namespace pealix
