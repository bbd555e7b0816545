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
    // The time of the event as its source reports it (the X server's
    // milliseconds, the portal's timestamp), 0 when unknown.
    quint64 timestamp = 0;
};

} // namespace pealix
