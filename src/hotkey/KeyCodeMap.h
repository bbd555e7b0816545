#pragma once

#include <QtGlobal>

#include <optional>

namespace pealix {

// Translation of Linux key identifiers into the chord's numbering (macOS virtual
// key codes and the HotkeyConfig modifier bits). The Linux key code (the evdev
// code, X keycode - 8) names a physical key whatever the layout, like a virtual
// key code does, so it is tried first; the keysym is the fallback for keyboards
// whose keycodes do not follow evdev.
class KeyCodeMap
{
public:
    static std::optional<quint32> fromLinuxKey(quint32 linuxCode);
    static std::optional<quint32> fromKeysym(quint32 keysym);
    // The Linux key code of a key code in the chord's numbering.
    static std::optional<quint32> toLinuxKey(quint32 keyCode);

    // The chord bit of a modifier key (Super is Command, Alt and Meta are
    // Option), or 0 for every other key.
    static quint32 modifierOfLinuxKey(quint32 linuxCode);
    static quint32 modifierOfKeysym(quint32 keysym);

    // X keycodes are Linux key codes shifted by 8 on every evdev-based server.
    static constexpr quint32 XKeycodeOffset = 8;
};

} // namespace pealix
