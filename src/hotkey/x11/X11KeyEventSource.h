#pragma once

#include "hotkey/KeyEventSource.h"

#include <QByteArray>
#include <QPointer>

#include <array>
#include <optional>

struct _XDisplay;
class QSocketNotifier;

namespace pealix {

// Every key-down and key-up on the X server, whichever window has the focus:
// XInput 2 raw key events selected on the root window for all master devices.
// Nothing is grabbed, so every application still gets its keys. The source
// keeps an X connection of its own, read from the event loop.
//
// Raw events carry no modifier state, so the four modifiers are followed from
// their own key events: a key counts as held from its press to its release, and
// a repeated press or release changes nothing.
class X11KeyEventSource : public KeyEventSource
{
    Q_OBJECT
public:
    // An empty display name means the one the session names.
    explicit X11KeyEventSource(QByteArray displayName = {}, QObject *parent = nullptr);
    ~X11KeyEventSource() override;

    bool start() override;
    void stop() override;
    bool isActive() const override { return m_display != nullptr; }
    bool isGlobal() const override { return true; }

    // The chord bits of the modifier keys held now.
    quint32 heldModifiers() const;

private:
    void readEvents();
    void handleRawKey(unsigned keycode, bool pressed, quint64 time);
    quint32 modifierOf(unsigned keycode) const;
    std::optional<quint32> keyCodeOf(unsigned keycode) const;
    unsigned long keysymOf(unsigned keycode) const;
    void learnHeldModifiers();
    void closeConnection();
    static void onConnectionLost(_XDisplay *display, void *source);

    QByteArray m_displayName;
    _XDisplay *m_display = nullptr;
    int m_xiOpcode = -1;
    bool m_connectionLost = false;
    QPointer<QSocketNotifier> m_notifier;
    // For each X keycode, the chord bit of the modifier key it is while held.
    std::array<quint32, 256> m_heldModifier{};
};

} // namespace pealix
