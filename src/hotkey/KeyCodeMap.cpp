#include "hotkey/KeyCodeMap.h"

#include "model/HotkeyConfig.h"

#include <algorithm>
#include <array>
#include <utility>

namespace pealix {

namespace {

using Pair = std::pair<quint32, quint32>;

// Linux key code -> macOS virtual key code, ordered by Linux code.
constexpr std::array<Pair, 110> LinuxToMac{{
    {1, 0x35},   // Esc
    {2, 0x12},   // 1
    {3, 0x13},   // 2
    {4, 0x14},   // 3
    {5, 0x15},   // 4
    {6, 0x17},   // 5
    {7, 0x16},   // 6
    {8, 0x1A},   // 7
    {9, 0x1C},   // 8
    {10, 0x19},  // 9
    {11, 0x1D},  // 0
    {12, 0x1B},  // minus
    {13, 0x18},  // equal
    {14, 0x33},  // Backspace (the Mac "Delete")
    {15, 0x30},  // Tab
    {16, 0x0C},  // Q
    {17, 0x0D},  // W
    {18, 0x0E},  // E
    {19, 0x0F},  // R
    {20, 0x11},  // T
    {21, 0x10},  // Y
    {22, 0x20},  // U
    {23, 0x22},  // I
    {24, 0x1F},  // O
    {25, 0x23},  // P
    {26, 0x21},  // [
    {27, 0x1E},  // ]
    {28, 0x24},  // Enter
    {29, 0x3B},  // left Ctrl
    {30, 0x00},  // A
    {31, 0x01},  // S
    {32, 0x02},  // D
    {33, 0x03},  // F
    {34, 0x05},  // G
    {35, 0x04},  // H
    {36, 0x26},  // J
    {37, 0x28},  // K
    {38, 0x25},  // L
    {39, 0x29},  // ;
    {40, 0x27},  // '
    {41, 0x32},  // `
    {42, 0x38},  // left Shift
    {43, 0x2A},  // backslash
    {44, 0x06},  // Z
    {45, 0x07},  // X
    {46, 0x08},  // C
    {47, 0x09},  // V
    {48, 0x0B},  // B
    {49, 0x2D},  // N
    {50, 0x2E},  // M
    {51, 0x2B},  // ,
    {52, 0x2F},  // .
    {53, 0x2C},  // /
    {54, 0x3C},  // right Shift
    {55, 0x43},  // keypad *
    {56, 0x3A},  // left Alt
    {57, 0x31},  // Space
    {58, 0x39},  // Caps Lock
    {59, 0x7A},  // F1
    {60, 0x78},  // F2
    {61, 0x63},  // F3
    {62, 0x76},  // F4
    {63, 0x60},  // F5
    {64, 0x61},  // F6
    {65, 0x62},  // F7
    {66, 0x64},  // F8
    {67, 0x65},  // F9
    {68, 0x6D},  // F10
    {69, 0x47},  // Num Lock (keypad Clear)
    {71, 0x59},  // keypad 7
    {72, 0x5B},  // keypad 8
    {73, 0x5C},  // keypad 9
    {74, 0x4E},  // keypad -
    {75, 0x56},  // keypad 4
    {76, 0x57},  // keypad 5
    {77, 0x58},  // keypad 6
    {78, 0x45},  // keypad +
    {79, 0x53},  // keypad 1
    {80, 0x54},  // keypad 2
    {81, 0x55},  // keypad 3
    {82, 0x52},  // keypad 0
    {83, 0x41},  // keypad .
    {86, 0x0A},  // the ISO key left of Z
    {87, 0x67},  // F11
    {88, 0x6F},  // F12
    {96, 0x4C},  // keypad Enter
    {97, 0x3E},  // right Ctrl
    {98, 0x4B},  // keypad /
    {100, 0x3D}, // right Alt
    {102, 0x73}, // Home
    {103, 0x7E}, // Up
    {104, 0x74}, // Page Up
    {105, 0x7B}, // Left
    {106, 0x7C}, // Right
    {107, 0x77}, // End
    {108, 0x7D}, // Down
    {109, 0x79}, // Page Down
    {110, 0x72}, // Insert (the Mac "Help")
    {111, 0x75}, // Delete (the Mac "Forward Delete")
    {117, 0x51}, // keypad =
    {125, 0x37}, // left Super
    {126, 0x36}, // right Super
    {183, 0x69}, // F13
    {184, 0x6B}, // F14
    {185, 0x71}, // F15
    {186, 0x6A}, // F16
    {187, 0x40}, // F17
    {188, 0x4F}, // F18
    {189, 0x50}, // F19
    {190, 0x5A}, // F20
}};

static_assert(std::is_sorted(LinuxToMac.begin(), LinuxToMac.end()));

// Keysyms that name the same keys when the keycode is not an evdev one.
constexpr quint32 XK_space = 0x20, XK_apostrophe = 0x27, XK_comma = 0x2c, XK_minus = 0x2d, XK_period = 0x2e,
                  XK_slash = 0x2f, XK_0 = 0x30, XK_9 = 0x39, XK_semicolon = 0x3b, XK_equal = 0x3d,
                  XK_A = 0x41, XK_Z = 0x5a, XK_bracketleft = 0x5b, XK_backslash = 0x5c,
                  XK_bracketright = 0x5d, XK_grave = 0x60, XK_a = 0x61, XK_z = 0x7a, XK_BackSpace = 0xff08,
                  XK_Tab = 0xff09, XK_Return = 0xff0d, XK_Escape = 0xff1b, XK_Home = 0xff50, XK_Left = 0xff51,
                  XK_Up = 0xff52, XK_Right = 0xff53, XK_Down = 0xff54, XK_Page_Up = 0xff55,
                  XK_Page_Down = 0xff56, XK_End = 0xff57, XK_Insert = 0xff63, XK_F1 = 0xffbe, XK_F20 = 0xffd1,
                  XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2, XK_Control_L = 0xffe3, XK_Control_R = 0xffe4,
                  XK_Caps_Lock = 0xffe5, XK_Meta_L = 0xffe7, XK_Meta_R = 0xffe8, XK_Alt_L = 0xffe9,
                  XK_Alt_R = 0xffea, XK_Super_L = 0xffeb, XK_Super_R = 0xffec, XK_Delete = 0xffff;

// The Linux codes of the rows of letters, digits and function keys, so the
// keysym fallback reuses the one table above.
constexpr std::array<quint32, 26> LettersByAlphabet{30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                                    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
constexpr std::array<quint32, 10> DigitsFromZero{11, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<quint32, 20> FunctionKeys{59, 60, 61,  62,  63,  64,  65,  66,  67,  68,
                                               87, 88, 183, 184, 185, 186, 187, 188, 189, 190};

constexpr std::array<Pair, 27> OtherKeysyms{{
    {XK_space, 57},        {XK_apostrophe, 40}, {XK_comma, 51},      {XK_minus, 12},       {XK_period, 52},
    {XK_slash, 53},        {XK_semicolon, 39},  {XK_equal, 13},      {XK_bracketleft, 26}, {XK_backslash, 43},
    {XK_bracketright, 27}, {XK_grave, 41},      {XK_BackSpace, 14},  {XK_Tab, 15},         {XK_Return, 28},
    {XK_Escape, 1},        {XK_Home, 102},      {XK_Left, 105},      {XK_Up, 103},         {XK_Right, 106},
    {XK_Down, 108},        {XK_Page_Up, 104},   {XK_Page_Down, 109}, {XK_End, 107},        {XK_Insert, 110},
    {XK_Caps_Lock, 58},    {XK_Delete, 111},
}};

std::optional<quint32> linuxCodeOfKeysym(quint32 keysym)
{
    if (keysym >= XK_a && keysym <= XK_z)
        return LettersByAlphabet[keysym - XK_a];
    if (keysym >= XK_A && keysym <= XK_Z)
        return LettersByAlphabet[keysym - XK_A];
    if (keysym >= XK_0 && keysym <= XK_9)
        return DigitsFromZero[keysym - XK_0];
    if (keysym >= XK_F1 && keysym <= XK_F20)
        return FunctionKeys[keysym - XK_F1];
    switch (keysym) {
    case XK_Shift_L:
        return 42;
    case XK_Shift_R:
        return 54;
    case XK_Control_L:
        return 29;
    case XK_Control_R:
        return 97;
    case XK_Alt_L:
    case XK_Meta_L:
        return 56;
    case XK_Alt_R:
    case XK_Meta_R:
        return 100;
    case XK_Super_L:
        return 125;
    case XK_Super_R:
        return 126;
    default:
        break;
    }
    for (const auto &[sym, code] : OtherKeysyms) {
        if (sym == keysym)
            return code;
    }
    return std::nullopt;
}

} // namespace

std::optional<quint32> KeyCodeMap::fromLinuxKey(quint32 linuxCode)
{
    const auto it = std::lower_bound(LinuxToMac.begin(), LinuxToMac.end(), Pair{linuxCode, 0});
    if (it == LinuxToMac.end() || it->first != linuxCode)
        return std::nullopt;
    return it->second;
}

std::optional<quint32> KeyCodeMap::toLinuxKey(quint32 keyCode)
{
    for (const auto &[linuxCode, macCode] : LinuxToMac) {
        if (macCode == keyCode)
            return linuxCode;
    }
    return std::nullopt;
}

std::optional<quint32> KeyCodeMap::fromKeysym(quint32 keysym)
{
    if (const auto linuxCode = linuxCodeOfKeysym(keysym))
        return fromLinuxKey(*linuxCode);
    return std::nullopt;
}

quint32 KeyCodeMap::modifierOfLinuxKey(quint32 linuxCode)
{
    switch (linuxCode) {
    case 125:
    case 126:
        return HotkeyConfig::Command;
    case 42:
    case 54:
        return HotkeyConfig::Shift;
    case 56:
    case 100:
        return HotkeyConfig::Option;
    case 29:
    case 97:
        return HotkeyConfig::Control;
    default:
        return 0;
    }
}

quint32 KeyCodeMap::modifierOfKeysym(quint32 keysym)
{
    // Only the modifier keysyms themselves: a letter's keysym must not reach
    // the Linux-code switch, whose numbers mean something else.
    if (keysym < XK_Shift_L || keysym > XK_Super_R)
        return 0;
    if (const auto linuxCode = linuxCodeOfKeysym(keysym))
        return modifierOfLinuxKey(*linuxCode);
    return 0;
}

} // namespace pealix
