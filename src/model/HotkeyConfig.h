#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pealix {

// The push-to-talk chord: a key code in the macOS virtual key numbering (50 is
// the key left of 1, 49 is Space) and the modifier keys it needs. The numbering
// is kept on every platform so a stored chord means the same key everywhere.
struct HotkeyConfig
{
    static constexpr quint32 Command = 0x100; // Super on Linux
    static constexpr quint32 Shift = 0x200;
    static constexpr quint32 Option = 0x800; // Alt on Linux
    static constexpr quint32 Control = 0x1000;

    quint32 keyCode = 50;
    quint32 modifiers = Option | Command;

    friend bool operator==(const HotkeyConfig &, const HotkeyConfig &) = default;

    static HotkeyConfig defaultChord() { return {}; }

    // "⌃⌥⇧⌘" in that order for the bits that are set, then the key's name.
    QString displayString() const;
    static QString keyName(quint32 keyCode);

    QByteArray toJson() const;
    // No value unless the data is a JSON object with both members as unsigned 32-bit integers.
    static std::optional<HotkeyConfig> fromJson(const QByteArray &data);
};

} // namespace pealix
