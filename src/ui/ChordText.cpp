#include "ui/ChordText.h"

#include <QStringList>

namespace pealix {

QString chordText(const HotkeyConfig &chord)
{
    QStringList parts;
    if (chord.modifiers & HotkeyConfig::Control)
        parts << QStringLiteral("Ctrl");
    if (chord.modifiers & HotkeyConfig::Option)
        parts << QStringLiteral("Alt");
    if (chord.modifiers & HotkeyConfig::Shift)
        parts << QStringLiteral("Shift");
    if (chord.modifiers & HotkeyConfig::Command)
        parts << QStringLiteral("Super");
    parts << HotkeyConfig::keyName(chord.keyCode);
    return parts.join(QLatin1Char('+'));
}

} // namespace pealix
