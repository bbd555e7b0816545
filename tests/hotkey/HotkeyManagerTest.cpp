// The chord logic on events in the chord's numbering: no display involved.
#include "engine/HotkeyManager.h"
#include "engine/KeyEventSource.h"
#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

using namespace pealix;

namespace {

constexpr quint32 Grave = 50;
constexpr quint32 Option = HotkeyConfig::Option;
constexpr quint32 Chord = HotkeyConfig::Option | HotkeyConfig::Command;

// A key source the test types into directly.
class FakeSource : public KeyEventSource
{
public:
    explicit FakeSource(bool global) : m_global(global) {}
    bool start() override { return m_active = true; }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    bool isGlobal() const override { return m_global; }
    void type(quint32 key, bool pressed, quint64 time = 0) { Q_EMIT keyEvent({key, Chord, time}, pressed); }

private:
    bool m_global, m_active = false;
};

// A manager over a system-wide and a local fake source; its callbacks write
// "P" for a press and "R" for a release into `log`.
struct Rig
{
    explicit Rig(HotkeyConfig chord = HotkeyConfig::defaultChord())
    {
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.push_back(std::make_unique<FakeSource>(true));
        sources.push_back(std::make_unique<FakeSource>(false));
        global = static_cast<FakeSource *>(sources[0].get());
        local = static_cast<FakeSource *>(sources[1].get());
        manager.emplace(chord, std::move(sources));
        manager->setOnPress([this] { log += 'P'; });
        manager->setOnRelease([this] { log += 'R'; });
    }
    FakeSource *global, *local;
    std::optional<HotkeyManager> manager;
    std::string log;
};

TEST(HotkeyManager, MatchingRules)
{
    using Step = std::tuple<quint32, quint32, bool>; // key, modifiers, pressed
    constexpr quint32 Others = HotkeyConfig::Command | HotkeyConfig::Shift | HotkeyConfig::Control;
    const Step press{Grave, Chord, true}, release{Grave, Chord, false};
    // clang-format off
    const std::tuple<const char *, HotkeyConfig, std::vector<Step>, std::string, bool> rows[] = {
        {"repeats while held", {}, {press, press, press}, "P", true},
        {"doubled release, then a new hold", {}, {press, release, release, press, release}, "PRPR", false},
        {"missing modifiers, another key, a release without a press", {},
         {{Grave, 0, true}, {Grave, Option, true}, {Grave, Others, true}, {Grave + 1, Chord, true}, release}, "", false},
        {"extra modifiers and non-chord flags (Caps Lock, keypad); a bare release", {},
         {{Grave, Chord | HotkeyConfig::Shift, true}, {Grave, 0, false}, {Grave, Chord | 0x10000 | 0x200000, true}}, "PRP", true},
        // Command's own key-up is another key; the key's release ends the hold whatever is held.
        {"modifier released first", {}, {press, {55, Option, false}}, "P", true},
        {"key released after a modifier", {}, {press, {55, Option, false}, {Grave, Option, false}}, "PR", false},
        {"codes of 65536 and above", {65536 + Grave, Chord}, {press, {65536 + Grave, Chord, true}}, "", false},
        {"the largest code", {65535, 0}, {{65535, 0, true}}, "P", true},
    };
    // clang-format on
    for (const auto &[what, chord, steps, log, down] : rows) {
        Rig rig(chord);
        for (const auto &[key, modifiers, pressed] : steps)
            rig.manager->handle({key, modifiers, 0}, pressed);
        EXPECT_EQ(rig.log, log) << what;
        EXPECT_EQ(rig.manager->isDown(), down) << what;
    }
}

TEST(HotkeyManager, WatchesWhileStartedCountsCopiesOnceAndRestartsCleanly)
{
    Rig rig;
    FakeSource *g = rig.global, *l = rig.local;
    g->type(Grave, true); // not watched yet
    rig.manager->start();
    // The system-wide source delivers a whole tap before the local copies
    // arrive; then taps without a time, which cannot be told apart and are
    // each a keystroke.
    using Event = std::tuple<FakeSource *, bool, quint64>;
    for (const auto &[source, pressed, time] : {Event{g, true, 1000},
                                                {g, false, 1090},
                                                {l, true, 1000},
                                                {l, false, 1090},
                                                {g, true, 0},
                                                {g, false, 0},
                                                {g, true, 0}})
        source->type(Grave, pressed, time);
    rig.manager->stop();
    l->type(Grave, false);
    g->type(Grave, true);
    EXPECT_EQ(rig.log, "PRPRP") << "nothing is watched before start() or after stop()";

    // start() during a hold ends it silently; the new chord counts from then on.
    rig.manager->start();
    g->type(Grave, true);
    rig.manager->setConfig({105, 0});
    rig.manager->start();
    g->type(Grave, true);
    g->type(105, true);
    g->type(105, false);
    EXPECT_EQ(rig.log, "PRPRPPPR");
}

} // namespace
