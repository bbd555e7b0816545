#pragma once

#include "model/HotkeyConfig.h"

#include <QString>

namespace pealix {

// A chord in the desktop's shortcut text: the modifiers CTRL, ALT, SHIFT and
// LOGO in that order, then the key's xkb keysym name, joined by "+"
// ("ALT+LOGO+grave" for Alt+Super+`). The key is named as on a US layout,
// since the stored chord names a physical key.
class PortalTrigger
{
public:
    // Empty when the key has no name in that text; the desktop then picks.
    static QString fromChord(const HotkeyConfig &chord);
};

} // namespace pealix
