#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

using namespace pealix;

TEST(HotkeyConfigTest, DisplayStringPutsModifiersInFixedOrderThenTheKey)
{
    EXPECT_EQ(HotkeyConfig{}.displayString(), QStringLiteral("⌥⌘`"));
    EXPECT_EQ((HotkeyConfig{105, 0x1200}).displayString(), QStringLiteral("⌃⇧F13"));
    EXPECT_EQ((HotkeyConfig{49, 0}).displayString(), QStringLiteral("Space"));
    EXPECT_EQ((HotkeyConfig{36, 0x1B00}).displayString(), QStringLiteral("⌃⌥⇧⌘Key 36"));
    // Bits outside the four modifiers show nothing.
    EXPECT_EQ((HotkeyConfig{4, 0x0001}).displayString(), QStringLiteral("H"));
}

TEST(HotkeyConfigTest, KeyNamesOfTheChoosableKeys)
{
    const std::pair<quint32, const char *> names[] = {{4, "H"},     {11, "B"},    {17, "T"},
                                                      {49, "Space"}, {50, "`"},   {105, "F13"},
                                                      {107, "F14"}, {113, "F15"}, {0, "Key 0"},
                                                      {4294967295u, "Key 4294967295"}};
    for (const auto &[code, name] : names)
        EXPECT_EQ(HotkeyConfig::keyName(code), QString::fromUtf8(name)) << code;
}

TEST(HotkeyConfigTest, JsonRoundTripsAndIgnoresOtherMembers)
{
    const HotkeyConfig chord{105, 0x1200};
    EXPECT_EQ(HotkeyConfig::fromJson(chord.toJson()), chord);
    EXPECT_EQ(HotkeyConfig::fromJson(R"({"keyCode":50,"modifiers":2304,"note":"x"})"), HotkeyConfig{});
    EXPECT_EQ(HotkeyConfig::fromJson(R"({"keyCode":4294967295,"modifiers":0})"),
              (HotkeyConfig{4294967295u, 0}));
}

TEST(HotkeyConfigTest, JsonThatIsNotAChordDecodesToNothing)
{
    for (const char *data : {"", "not json", "[50, 2304]", "{\"keyCode\":50}", "{\"modifiers\":2304}",
                             "{\"keyCode\":-1,\"modifiers\":0}", "{\"keyCode\":4294967296,\"modifiers\":0}",
                             "{\"keyCode\":50.5,\"modifiers\":0}", "{\"keyCode\":\"50\",\"modifiers\":0}",
                             "{\"keyCode\":50,\"modifiers\":null}", "{\"keyCode\":50,\"modifiers\":2304"})
        EXPECT_FALSE(HotkeyConfig::fromJson(QByteArray(data))) << data;
}
