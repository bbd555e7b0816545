#include "hotkey/x11/X11KeyEventSource.h"

namespace pealix {

// X11 for now; a Wayland session without XWayland is where a portal or evdev
// source would be chosen instead, once one exists.
std::unique_ptr<KeyEventSource> createSystemKeyEventSource()
{
    return std::make_unique<X11KeyEventSource>();
}

} // namespace pealix
