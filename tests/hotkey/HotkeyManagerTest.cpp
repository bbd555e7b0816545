// The chord logic on events in the chord's numbering: no display involved.
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyEventSource.h"
#include "hotkey/LocalKeyEventSource.h"

#include "HoldLog.h"

#include <gtest/gtest.h>

using namespace pealix;

namespace {

constexpr quint32 Grave = 50;
constexpr quint32 Chord = HotkeyConfig::Option | HotkeyConfig::Command;

void type(KeyEventSource *source, quint32 key, bool pressed, quint64 time = 0)
{
    Q_EMIT source->keyEvent({key, Chord, time}, pressed);
}

TEST(HotkeyManager, MatchingRules)
{
    using Step = std::tuple<quint32, quint32, bool>; // key, modifiers, pressed
    const Step press{Grave, Chord, true}, release{Grave, Chord, false};
    // clang-format off
    const std::tuple<const char *, HotkeyConfig, std::vector<Step>, std::string, bool> rows[] = {
        {"repeats while held", {}, {press, press, press}, "P", true},
        {"doubled release, then a new hold", {}, {press, release, release, press, release}, "PRPR", false},
        {"missing modifiers, another key, a release without a press", {},
         {{Grave, HotkeyConfig::Option, true}, {Grave, HotkeyConfig::Command, true}, {Grave + 1, Chord, true}, release}, "", false},
        {"extra modifiers and non-chord flags (Caps Lock, keypad); a bare release", {},
         {{Grave, Chord | HotkeyConfig::Shift, true}, {Grave, 0, false}, {Grave, Chord | 0x10000 | 0x200000, true}}, "PRP", true},
        // Command's own key-up is another key and ends nothing.
        {"modifier released first", {}, {press, {55, HotkeyConfig::Option, false}}, "P", true},
        {"codes of 65536 and above", {65536 + Grave, Chord}, {press, {65536 + Grave, Chord, true}}, "", false},
        {"the largest code", {65535, 0}, {{65535, 0, true}}, "P", true},
    };
    // clang-format on
    for (const auto &[what, chord, steps, log, down] : rows) {
        test::HoldLog rig(chord, {});
        for (const auto &[key, modifiers, pressed] : steps)
            rig.manager.handle({key, modifiers, 0}, pressed);
        EXPECT_EQ(rig.log, log) << what;
        EXPECT_EQ(rig.manager.isDown(), down) << what;
    }
}

TEST(HotkeyManager, WatchesWhileStartedEndsAHoldWhereItBeganAndRestartsCleanly)
{
    // Two sources of our own windows' keys, neither of them global: each may
    // begin a hold, and only the one that began it ends it.
    KeyEventSource *a = new LocalKeyEventSource, *b = new LocalKeyEventSource;
    test::HoldLog rig(HotkeyConfig::defaultChord(), {a, b});
    type(a, Grave, true); // not watched yet
    rig.manager.start();
    type(a, Grave, true);
    type(b, Grave, false); // a copy of a release from elsewhere
    type(b, Grave, true);
    type(a, Grave, false);
    rig.manager.stop();
    type(b, Grave, false);
    type(a, Grave, true);
    EXPECT_EQ(rig.log, "PR") << "nothing is watched before start() or after stop()";

    // start() during a hold ends it silently; the new chord counts from then on.
    rig.manager.start();
    type(a, Grave, true);
    rig.manager.setConfig({105, 0});
    rig.manager.start();
    type(a, Grave, false);
    type(a, Grave, true);
    type(b, 105, true);
    type(b, 105, false);
    EXPECT_EQ(rig.log, "PRPPR");
    EXPECT_FALSE(rig.manager.isMonitoring());
    EXPECT_EQ(rig.manager.monitoringProblem(), noGlobalHotkeyProblem())
        << "no source sees other applications";
}

} // namespace
