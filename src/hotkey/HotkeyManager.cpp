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
    // No signal to listeners that may be half gone themselves.
    const QSignalBlocker quiet(this);
    stop();
}

void HotkeyManager::start()
{
    stop();
    for (const auto &owned : m_sources) {
        KeyEventSource *source = owned.get();
        source->setChord(m_config);
        if (!source->start())
            continue;
        // The connections' context makes an event after our end a no-op.
        connect(source, &KeyEventSource::keyEvent, this,
                [this, source](const KeyEvent &event, bool pressed) { receive(source, event, pressed); });
        connect(source, &KeyEventSource::stateChanged, this, [this, source] { sourceStateChanged(source); });
        m_monitors.push_back(source);
    }
    Q_EMIT monitoringChanged();
}

void HotkeyManager::stop()
{
    for (KeyEventSource *source : m_monitors) {
        disconnect(source, nullptr, this, nullptr);
        source->stop();
    }
    const bool wasWatching = !m_monitors.empty();
    m_monitors.clear();
    m_isDown = false;
    m_holdSource = nullptr;
    if (wasWatching)
        Q_EMIT monitoringChanged();
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
    return noGlobalHotkeyProblem();
}

QString HotkeyManager::triggerDescription() const
{
    for (const KeyEventSource *source : m_monitors) {
        if (source->isGlobal() && source->isActive())
            return source->triggerDescription();
    }
    return {};
}

quint32 HotkeyManager::chordModifiers(quint32 flags)
{
    return flags & ChordModifierMask;
}

void HotkeyManager::receive(KeyEventSource *source, const KeyEvent &event, bool pressed)
{
    if (!pressed) {
        // A release seen by another source than the press (a copy, or an X11
        // repeat reaching our window as a release/press pair) ends nothing.
        if (source == m_holdSource)
            handle(event, false);
        return;
    }
    // While a global source watches, it sees our own windows' keys as well;
    // a second copy from the window would only echo its repeats.
    if (!source->isGlobal() && isMonitoring())
        return;
    const bool wasDown = m_isDown;
    handle(event, true);
    if (!wasDown && m_isDown)
        m_holdSource = source;
}

void HotkeyManager::sourceStateChanged(KeyEventSource *source)
{
    // A source that stopped watching on its own will never report the key's
    // release: the hold ends now rather than never.
    if (m_isDown && source == m_holdSource && !source->isActive()) {
        m_isDown = false;
        m_holdSource = nullptr;
        if (m_onRelease)
            m_onRelease();
    }
    Q_EMIT monitoringChanged();
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
        if (m_onPress)
            m_onPress();
    } else {
        if (!m_isDown)
            return;
        // The modifiers are not looked at: letting go of one before the key
        // keeps the hold, the key's own release ends it.
        m_isDown = false;
        m_holdSource = nullptr;
        if (m_onRelease)
            m_onRelease();
    }
}

} // namespace pealix
