#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

using namespace pealix;

TEST(HotkeyConfigTest, DisplayStringPutsModifiersInFixedOrderThenTheKeyName)
{
    const std::tuple<quint32, quint32, const char *> rows[] = {{50, 0x900, "⌥⌘`"},
                                                               {105, 0x1200, "⌃⇧F13"},
                                                               {49, 0, "Space"},
                                                               {36, 0x1B00, "⌃⌥⇧⌘Key 36"},
                                                               {4, 0x0001, "H"}};
    for (const auto &[keyCode, modifiers, text] : rows)
        EXPECT_EQ((HotkeyConfig{keyCode, modifiers}).displayString(), QString::fromUtf8(text)) << text;
}

TEST(HotkeyConfigTest, JsonRoundTripsAndAnythingElseDecodesToNothing)
{
    const HotkeyConfig chord{105, 0x1200};
    EXPECT_EQ(HotkeyConfig::fromJson(chord.toJson()), chord);
    EXPECT_EQ(HotkeyConfig::fromJson(R"({"keyCode":50,"modifiers":2304,"note":"x"})"), HotkeyConfig{});
    EXPECT_EQ(HotkeyConfig::fromJson(R"({"keyCode":4294967295,"modifiers":0})"),
              (HotkeyConfig{4294967295u, 0}));
    for (const char *data : {"not json", R"({"keyCode":50})", R"({"keyCode":-1,"modifiers":0})",
                             R"({"keyCode":4294967296,"modifiers":0})", R"({"keyCode":50.5,"modifiers":0})",
                             R"({"keyCode":"50","modifiers":0})"})
        EXPECT_FALSE(HotkeyConfig::fromJson(QByteArray(data))) << data;
}
