#include "hotkey/portal/PortalTrigger.h"

#include "hotkey/KeyCodeMap.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>

namespace pealix {

namespace {

using Name = std::pair<quint32, const char *>;

// Linux key code -> keysym name, ordered by code. Modifier and lock keys are
// left out: they cannot be the key of a chord.
constexpr std::array<Name, 100> KeysymNames{{
    {1, "Escape"},
    {2, "1"},
    {3, "2"},
    {4, "3"},
    {5, "4"},
    {6, "5"},
    {7, "6"},
    {8, "7"},
    {9, "8"},
    {10, "9"},
    {11, "0"},
    {12, "minus"},
    {13, "equal"},
    {14, "BackSpace"},
    {15, "Tab"},
    {16, "q"},
    {17, "w"},
    {18, "e"},
    {19, "r"},
    {20, "t"},
    {21, "y"},
    {22, "u"},
    {23, "i"},
    {24, "o"},
    {25, "p"},
    {26, "bracketleft"},
    {27, "bracketright"},
    {28, "Return"},
    {30, "a"},
    {31, "s"},
    {32, "d"},
    {33, "f"},
    {34, "g"},
    {35, "h"},
    {36, "j"},
    {37, "k"},
    {38, "l"},
    {39, "semicolon"},
    {40, "apostrophe"},
    {41, "grave"},
    {43, "backslash"},
    {44, "z"},
    {45, "x"},
    {46, "c"},
    {47, "v"},
    {48, "b"},
    {49, "n"},
    {50, "m"},
    {51, "comma"},
    {52, "period"},
    {53, "slash"},
    {55, "KP_Multiply"},
    {57, "space"},
    {59, "F1"},
    {60, "F2"},
    {61, "F3"},
    {62, "F4"},
    {63, "F5"},
    {64, "F6"},
    {65, "F7"},
    {66, "F8"},
    {67, "F9"},
    {68, "F10"},
    {71, "KP_7"},
    {72, "KP_8"},
    {73, "KP_9"},
    {74, "KP_Subtract"},
    {75, "KP_4"},
    {76, "KP_5"},
    {77, "KP_6"},
    {78, "KP_Add"},
    {79, "KP_1"},
    {80, "KP_2"},
    {81, "KP_3"},
    {82, "KP_0"},
    {83, "KP_Decimal"},
    {86, "less"},
    {87, "F11"},
    {88, "F12"},
    {96, "KP_Enter"},
    {98, "KP_Divide"},
    {102, "Home"},
    {103, "Up"},
    {104, "Prior"},
    {105, "Left"},
    {106, "Right"},
    {107, "End"},
    {108, "Down"},
    {109, "Next"},
    {110, "Insert"},
    {111, "Delete"},
    {117, "KP_Equal"},
    {183, "F13"},
    {184, "F14"},
    {185, "F15"},
    {186, "F16"},
    {187, "F17"},
    {188, "F18"},
    {189, "F19"},
    {190, "F20"},
}};

static_assert(std::is_sorted(KeysymNames.begin(), KeysymNames.end(),
                             [](const Name &a, const Name &b) { return a.first < b.first; }));

const char *keysymName(quint32 linuxCode)
{
    const auto it = std::lower_bound(KeysymNames.begin(), KeysymNames.end(), linuxCode,
                                     [](const Name &name, quint32 code) { return name.first < code; });
    return it != KeysymNames.end() && it->first == linuxCode ? it->second : nullptr;
}

} // namespace

QString PortalTrigger::fromChord(const HotkeyConfig &chord)
{
    const auto linuxCode = KeyCodeMap::toLinuxKey(chord.keyCode);
    const char *key = linuxCode ? keysymName(*linuxCode) : nullptr;
    if (!key)
        return {};
    QStringList parts;
    if (chord.modifiers & HotkeyConfig::Control)
        parts << QStringLiteral("CTRL");
    if (chord.modifiers & HotkeyConfig::Option)
        parts << QStringLiteral("ALT");
    if (chord.modifiers & HotkeyConfig::Shift)
        parts << QStringLiteral("SHIFT");
    if (chord.modifiers & HotkeyConfig::Command)
        parts << QStringLiteral("LOGO");
    parts << QLatin1String(key);
    return parts.join(u'+');
}

} // namespace pealix
