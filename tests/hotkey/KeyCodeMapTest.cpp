// Linux key identifiers into the chord's numbering.
#include "engine/KeyCodeMap.h"
#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

#include <set>

using namespace pealix;

namespace {

struct NamedKey
{
    quint32 linuxCode;
    quint32 keysym;
    const char *name; // as the chord's display shows it
};

// The keys the Hotkey settings offer.
const NamedKey OfferedKeys[] = {
    {41, 0x60, "`"},     {57, 0x20, "Space"}, {48, 0x62, "B"},     {35, 0x68, "H"},
    {20, 0x74, "T"},     {183, 0xffca, "F13"}, {184, 0xffcb, "F14"}, {185, 0xffcc, "F15"},
};

TEST(KeyCodeMap, OfferedKeysGetTheCodesTheirNamesBelongTo)
{
    for (const NamedKey &key : OfferedKeys) {
        const auto byCode = KeyCodeMap::fromLinuxKey(key.linuxCode);
        const auto bySymbol = KeyCodeMap::fromKeysym(key.keysym);
        ASSERT_TRUE(byCode.has_value()) << key.name;
        ASSERT_TRUE(bySymbol.has_value()) << key.name;
        EXPECT_EQ(*byCode, *bySymbol) << key.name;
        EXPECT_EQ(HotkeyConfig::keyName(*byCode).toStdString(), key.name);
    }
}

TEST(KeyCodeMap, LettersDigitsAndFunctionKeysAreDistinctAndAgreeByKeysym)
{
    std::set<quint32> codes;
    int keys = 0;
    auto add = [&](quint32 keysym) {
        const auto code = KeyCodeMap::fromKeysym(keysym);
        ASSERT_TRUE(code.has_value()) << "keysym " << keysym;
        codes.insert(*code);
        ++keys;
    };
    for (quint32 letter = 'a'; letter <= 'z'; ++letter) {
        add(letter);
        // Shifted letters name the same key.
        EXPECT_EQ(KeyCodeMap::fromKeysym(letter - 'a' + 'A'), KeyCodeMap::fromKeysym(letter));
    }
    for (quint32 digit = '0'; digit <= '9'; ++digit)
        add(digit);
    for (quint32 function = 0xffbe; function <= 0xffd1; ++function) // F1 to F20
        add(function);
    EXPECT_EQ(codes.size(), static_cast<size_t>(keys));

    // Spot checks against the keyboard's physical layout.
    EXPECT_EQ(KeyCodeMap::fromKeysym('a'), 0x00u);
    EXPECT_EQ(KeyCodeMap::fromKeysym('5'), 0x17u);
    EXPECT_EQ(KeyCodeMap::fromKeysym(0xffbe), 0x7Au); // F1
    EXPECT_EQ(KeyCodeMap::fromLinuxKey(30), 0x00u);   // A
    EXPECT_EQ(KeyCodeMap::fromLinuxKey(6), 0x17u);    // 5
}

TEST(KeyCodeMap, UnknownKeysMapToNothing)
{
    EXPECT_FALSE(KeyCodeMap::fromLinuxKey(0).has_value());
    EXPECT_FALSE(KeyCodeMap::fromLinuxKey(171).has_value()); // a media key
    EXPECT_FALSE(KeyCodeMap::fromLinuxKey(0xFFFFFFFF).has_value());
    EXPECT_FALSE(KeyCodeMap::fromKeysym(0).has_value());
    EXPECT_FALSE(KeyCodeMap::fromKeysym(0x1008ff81).has_value()); // XF86Tools
}

TEST(KeyCodeMap, ModifierKeysGiveTheirChordBitsAndNothingElseDoes)
{
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(125), HotkeyConfig::Command);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(126), HotkeyConfig::Command);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(56), HotkeyConfig::Option);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(100), HotkeyConfig::Option);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(54), HotkeyConfig::Shift);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(97), HotkeyConfig::Control);
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(41), 0u);

    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffeb), HotkeyConfig::Command); // Super_L
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffe7), HotkeyConfig::Option);  // Meta_L
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffea), HotkeyConfig::Option);  // Alt_R
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffe4), HotkeyConfig::Control); // Control_R
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffe1), HotkeyConfig::Shift);   // Shift_L
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym(0xffe5), 0u);                    // Caps_Lock
    // Keysym values that happen to equal a modifier's Linux code are letters.
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym('a'), 0u); // 97, the right Ctrl's code
    EXPECT_EQ(KeyCodeMap::modifierOfKeysym('}'), 0u); // 125, the left Super's code
}

} // namespace
