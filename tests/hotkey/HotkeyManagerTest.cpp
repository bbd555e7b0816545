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
    FakeSource(bool global, bool canStart) : m_global(global), m_canStart(canStart) {}
    bool start() override
    {
        ++starts;
        if (!m_canStart)
            setProblem(QStringLiteral("refused"));
        return m_active = m_canStart;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    bool isGlobal() const override { return m_global; }
    void type(quint32 key, bool pressed, quint64 time = 0)
    {
        Q_EMIT keyEvent(KeyEvent{key, Chord, time}, pressed);
    }

    int starts = 0;

private:
    bool m_global, m_canStart, m_active = false;
};

// A manager over a system-wide and a local fake source, counting its callbacks.
struct Rig
{
    explicit Rig(HotkeyConfig chord = HotkeyConfig::defaultChord(), bool globalCanStart = true)
    {
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.push_back(std::make_unique<FakeSource>(true, globalCanStart));
        sources.push_back(std::make_unique<FakeSource>(false, true));
        global = static_cast<FakeSource *>(sources[0].get());
        local = static_cast<FakeSource *>(sources[1].get());
        manager.emplace(chord, std::move(sources));
        manager->setOnPress([this] { ++presses; });
        manager->setOnRelease([this] { ++releases; });
    }
    FakeSource *global = nullptr;
    FakeSource *local = nullptr;
    std::optional<HotkeyManager> manager;
    int presses = 0;
    int releases = 0;
};

TEST(HotkeyManager, MatchingRules)
{
    struct Step
    {
        quint32 key, modifiers;
        bool pressed;
    };
    struct Row
    {
        const char *what;
        HotkeyConfig chord;
        std::vector<Step> steps;
        int presses, releases;
        bool down;
    };
    const HotkeyConfig standard = HotkeyConfig::defaultChord();
    constexpr quint32 Others = HotkeyConfig::Command | HotkeyConfig::Shift | HotkeyConfig::Control;
    const Step press{Grave, Chord, true}, release{Grave, Chord, false};
    // clang-format off
    const Row rows[] = {
        {"repeats while held", standard, {press, press, press}, 1, 0, true},
        {"doubled release, then a new hold", standard, {press, release, release, press, release}, 2, 2, false},
        {"missing modifiers, another key, a release without a press", standard,
         {{Grave, 0, true}, {Grave, Option, true}, {Grave, Others, true}, {Grave + 1, Chord, true}, release}, 0, 0, false},
        {"extra modifiers and non-chord flags (Caps Lock, keypad)", standard,
         {{Grave, Chord | HotkeyConfig::Shift, true}, {Grave, 0, false}, {Grave, Chord | 0x10000 | 0x200000, true}}, 2, 1, true},
        {"a non-chord flag stands in for no modifier", standard, {{Grave, Option | 0x100000, true}}, 0, 0, false},
        {"a chord without modifiers ignores held ones", {49, 0}, {{49, HotkeyConfig::Control, true}}, 1, 0, true},
        // Command's own key-up is another key; the key's release ends the hold whatever is held.
        {"modifier released first", standard, {press, {55, Option, false}}, 1, 0, true},
        {"key released after a modifier", standard, {press, {55, Option, false}, {Grave, Option, false}}, 1, 1, false},
        {"codes of 65536 and above", {65536 + Grave, Chord}, {press, {65536 + Grave, Chord, true}}, 0, 0, false},
        {"code 65536 without modifiers", {65536, 0}, {{65536, 0, true}, {0, 0, true}}, 0, 0, false},
        {"the largest code", {65535, 0}, {{65535, 0, true}}, 1, 0, true},
    };
    // clang-format on
    for (const Row &row : rows) {
        Rig rig(row.chord);
        for (const Step &step : row.steps)
            rig.manager->handle(KeyEvent{step.key, step.modifiers, 0}, step.pressed);
        EXPECT_EQ(rig.presses, row.presses) << row.what;
        EXPECT_EQ(rig.releases, row.releases) << row.what;
        EXPECT_EQ(rig.manager->isDown(), row.down) << row.what;
    }
}

TEST(HotkeyManager, StartStopAndRestartDuringAHold)
{
    Rig rig;
    rig.global->type(Grave, true);
    EXPECT_EQ(rig.presses, 0) << "nothing is watched before start()";
    EXPECT_FALSE(rig.manager->isMonitoring());

    rig.manager->start();
    EXPECT_TRUE(rig.global->isActive() && rig.local->isActive());
    EXPECT_TRUE(rig.manager->isMonitoring());
    EXPECT_TRUE(rig.manager->monitoringProblem().isEmpty());
    rig.local->type(Grave, true);
    EXPECT_EQ(rig.presses, 1);

    rig.manager->stop();
    EXPECT_FALSE(rig.manager->isDown());
    EXPECT_FALSE(rig.global->isActive() || rig.local->isActive());
    rig.local->type(Grave, false);
    rig.global->type(Grave, true);
    EXPECT_EQ(rig.presses, 1);
    EXPECT_EQ(rig.releases, 0);

    // start() during a hold ends it silently; the new chord counts from then on.
    rig.manager->start();
    rig.global->type(Grave, true);
    ASSERT_TRUE(rig.manager->isDown());
    rig.manager->setConfig({105, 0});
    rig.manager->start();
    EXPECT_EQ(rig.global->starts, 3);
    EXPECT_FALSE(rig.manager->isDown());
    rig.global->type(Grave, false);
    EXPECT_EQ(rig.releases, 0);
    rig.global->type(Grave, true);
    rig.global->type(105, true);
    rig.global->type(105, false);
    EXPECT_EQ(rig.presses, 3);
    EXPECT_EQ(rig.releases, 1);
}

TEST(HotkeyManager, SourceThatCannotStartIsSkippedAndExplained)
{
    Rig rig({}, false);
    rig.manager->start();
    EXPECT_FALSE(rig.manager->isMonitoring());
    EXPECT_EQ(rig.manager->monitoringProblem(), QStringLiteral("refused"));
    rig.local->type(Grave, true);
    EXPECT_EQ(rig.presses, 1) << "our own windows still work";
}

TEST(HotkeyManager, CopiesOfOneKeystrokeFromBothSourcesCountOnce)
{
    Rig rig;
    rig.manager->start();
    FakeSource *g = rig.global, *l = rig.local;
    auto feed = [](std::initializer_list<std::tuple<FakeSource *, bool, quint64>> events) {
        for (const auto &[source, pressed, time] : events)
            source->type(Grave, pressed, time);
    };
    // The system-wide source delivers a whole tap before the local copies.
    feed({{g, true, 1000}, {g, false, 1090}, {l, true, 1000}, {l, false, 1090}});
    EXPECT_EQ(rig.presses, 1);
    EXPECT_EQ(rig.releases, 1);
    EXPECT_FALSE(rig.manager->isDown());
    // The other order, with repeats in between.
    feed({{l, true, 2000},
          {g, true, 2000},
          {g, true, 2500},
          {l, true, 2500},
          {l, false, 2600},
          {g, false, 2600}});
    EXPECT_EQ(rig.presses, 2);
    EXPECT_EQ(rig.releases, 2);
    // Events without a time cannot be told apart and are each a keystroke.
    feed({{g, true, 0}, {g, false, 0}, {g, true, 0}});
    EXPECT_EQ(rig.presses, 4);
}

} // namespace
