#pragma once

#include "model/HotkeyConfig.h"

#include <QString>

namespace pealix {

// The chord as a Linux desktop names it: the held modifiers in the order Ctrl,
// Alt, Shift, Super, then the key, joined by "+" ("Alt+Super+`"). The stored
// bits stay those of HotkeyConfig (Control, Option, Shift, Command).
QString chordText(const HotkeyConfig &chord);

} // namespace pealix
