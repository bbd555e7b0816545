#include "hotkey/LocalKeyEventSource.h"

#include "hotkey/KeyCodeMap.h"
#include "model/HotkeyConfig.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace pealix {

LocalKeyEventSource::~LocalKeyEventSource()
{
    stop();
}

bool LocalKeyEventSource::start()
{
    auto *app = QCoreApplication::instance();
    if (!app) {
        setProblem(QStringLiteral("No application object to watch."));
        return false;
    }
    if (!m_active)
        app->installEventFilter(this);
    m_active = true;
    return true;
}

void LocalKeyEventSource::stop()
{
    if (!m_active)
        return;
    if (auto *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    m_active = false;
}

std::optional<KeyEvent> LocalKeyEventSource::translate(const QKeyEvent &event)
{
    std::optional<quint32> code;
    if (event.nativeScanCode() >= KeyCodeMap::XKeycodeOffset)
        code = KeyCodeMap::fromLinuxKey(event.nativeScanCode() - KeyCodeMap::XKeycodeOffset);
    if (!code && event.nativeVirtualKey() != 0)
        code = KeyCodeMap::fromKeysym(event.nativeVirtualKey());
    if (!code)
        return std::nullopt;

    const Qt::KeyboardModifiers held = event.modifiers();
    quint32 modifiers = 0;
    // On X11 and Wayland Qt reports Super as Meta.
    if (held & Qt::MetaModifier)
        modifiers |= HotkeyConfig::Command;
    if (held & Qt::ShiftModifier)
        modifiers |= HotkeyConfig::Shift;
    if (held & Qt::AltModifier)
        modifiers |= HotkeyConfig::Option;
    if (held & Qt::ControlModifier)
        modifiers |= HotkeyConfig::Control;
    return KeyEvent{*code, modifiers, event.timestamp()};
}

bool LocalKeyEventSource::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // A key event travels from the window to the focus widget and up through
    // its parents, passing this filter at every step; its first stop, the
    // window, stands for the whole journey.
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWindowType()) {
        const auto &keyEvent = *static_cast<QKeyEvent *>(event);
        // A held key's repeats arrive as release/press pairs; where Qt can
        // tell them apart they are no keystrokes of their own.
        if (keyEvent.isAutoRepeat())
            return false;
        if (const auto key = translate(keyEvent))
            Q_EMIT this->keyEvent(*key, type == QEvent::KeyPress);
    }
    return false;
}

} // namespace pealix
