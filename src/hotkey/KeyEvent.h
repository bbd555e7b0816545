#pragma once

#include <QtGlobal>

namespace pealix {

// One key going down or up, already in the chord's numbering: `keyCode` is a
// macOS virtual key code and `modifiers` holds the chord bits of the modifier
// keys held at that moment (HotkeyConfig::Command, Shift, Option, Control).
struct KeyEvent
{
    quint32 keyCode = 0;
    quint32 modifiers = 0;
    // The window system's time of the event in milliseconds, 0 when unknown.
    // Two sources that see one keystroke report the same time for it.
    quint64 timestamp = 0;
};

} // namespace pealix
