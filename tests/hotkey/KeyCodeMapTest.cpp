// The keysym fallback of the key translation (the Linux-code table is checked
// key by key against a real X server in the X11 tests).
#include "engine/KeyCodeMap.h"
#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

using namespace pealix;

namespace {

TEST(KeyCodeMap, KeysymsNameTheSameKeysAsLinuxCodes)
{
    // grave, space, B, H, T, F13-F15: the keys the Hotkey settings offer.
    const std::pair<quint32, quint32> keys[] = {{0x60, 41}, {0x20, 57},    {0x62, 48},    {0x68, 35},
                                                {0x74, 20}, {0xffca, 183}, {0xffcb, 184}, {0xffcc, 185}};
    for (const auto &[keysym, linuxCode] : keys) {
        EXPECT_EQ(KeyCodeMap::fromKeysym(keysym), KeyCodeMap::fromLinuxKey(linuxCode)) << keysym;
        EXPECT_FALSE(HotkeyConfig::keyName(*KeyCodeMap::fromKeysym(keysym)).startsWith("Key ")) << keysym;
    }
    EXPECT_EQ(KeyCodeMap::fromKeysym('Q'), KeyCodeMap::fromKeysym('q'));
    EXPECT_EQ(KeyCodeMap::fromKeysym('5'), 0x17u);
    EXPECT_EQ(KeyCodeMap::fromKeysym(0xffd1), 0x5Au); // F20
    EXPECT_FALSE(KeyCodeMap::fromKeysym(0x1008ff81)); // XF86Tools names no key of its own
    EXPECT_FALSE(KeyCodeMap::fromLinuxKey(171));
}

TEST(KeyCodeMap, OnlyModifierKeysGiveChordBits)
{
    // Keysyms 'a' (97) and '}' (125) equal the right Ctrl's and left Super's
    // Linux codes, and are letters all the same.
    const std::pair<quint32, quint32> keysyms[] = {{0xffec, HotkeyConfig::Command},
                                                   {0xffe7, HotkeyConfig::Option},
                                                   {0xffe4, HotkeyConfig::Control},
                                                   {0xffe5, 0},
                                                   {'a', 0},
                                                   {'}', 0}};
    for (const auto &[keysym, bit] : keysyms)
        EXPECT_EQ(KeyCodeMap::modifierOfKeysym(keysym), bit) << keysym;
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(100), HotkeyConfig::Option); // right Alt
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(41), 0u);
}

} // namespace
