#pragma once

#include "hotkey/KeyEventSource.h"

#include <optional>

class QKeyEvent;

namespace pealix {

// Key events delivered to our own windows, seen through an application-wide
// event filter and passed on untouched. It keeps the chord working in our
// windows where no system-wide source runs, for example on a Wayland desktop
// without the global shortcuts portal. Repeats that Qt marks are dropped.
class LocalKeyEventSource : public KeyEventSource
{
    Q_OBJECT
public:
    using KeyEventSource::KeyEventSource;
    ~LocalKeyEventSource() override;

    bool start() override;
    void stop() override;
    bool isActive() const override { return m_active; }
    bool isGlobal() const override { return false; }

    // The chord's form of a Qt key event, from its native scan code (an X or
    // xkb keycode) or else its keysym; nothing for keys outside the numbering.
    static std::optional<KeyEvent> translate(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_active = false;
};

} // namespace pealix
