// The chord logic on events in the chord's numbering: no display involved.
#include "engine/HotkeyManager.h"
#include "FakeKeyEventSource.h"
#include "model/HotkeyConfig.h"

#include <gtest/gtest.h>

using namespace pealix;
using test::FakeKeyEventSource;

namespace {

constexpr quint32 Grave = 50;
constexpr quint32 CommandKey = 55;
constexpr quint32 Chord = HotkeyConfig::Option | HotkeyConfig::Command;

class HotkeyManagerTest : public ::testing::Test
{
protected:
    HotkeyManagerTest()
    {
        auto global = std::make_unique<FakeKeyEventSource>(true);
        auto local = std::make_unique<FakeKeyEventSource>(false);
        m_global = global.get();
        m_local = local.get();
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.push_back(std::move(global));
        sources.push_back(std::move(local));
        m_manager.emplace(HotkeyConfig::defaultChord(), std::move(sources));
        m_manager->setOnPress([this] { ++m_presses; });
        m_manager->setOnRelease([this] { ++m_releases; });
    }

    void down(quint32 key, quint32 modifiers) { m_manager->handle(KeyEvent{key, modifiers, 0}, true); }
    void up(quint32 key, quint32 modifiers) { m_manager->handle(KeyEvent{key, modifiers, 0}, false); }

    FakeKeyEventSource *m_global = nullptr;
    FakeKeyEventSource *m_local = nullptr;
    std::optional<HotkeyManager> m_manager;
    int m_presses = 0;
    int m_releases = 0;
};

TEST_F(HotkeyManagerTest, LongHoldWithRepeatsIsOnePressAndOneRelease)
{
    for (int repeat = 0; repeat < 50; ++repeat)
        down(Grave, Chord);
    EXPECT_EQ(m_presses, 1);
    EXPECT_TRUE(m_manager->isDown());
    up(Grave, Chord);
    up(Grave, Chord); // a second copy of the release
    EXPECT_EQ(m_releases, 1);
    EXPECT_FALSE(m_manager->isDown());

    // The next hold is a hold of its own.
    down(Grave, Chord);
    up(Grave, Chord);
    EXPECT_EQ(m_presses, 2);
    EXPECT_EQ(m_releases, 2);
}

TEST_F(HotkeyManagerTest, RequiredModifiersMustAllBeHeldAndExtrasAreAllowed)
{
    down(Grave, 0);
    down(Grave, HotkeyConfig::Option);
    down(Grave, HotkeyConfig::Command | HotkeyConfig::Shift | HotkeyConfig::Control);
    down(Grave + 1, Chord);
    EXPECT_EQ(m_presses, 0);
    // Without a press, the key's release ends nothing.
    up(Grave, Chord);
    EXPECT_EQ(m_releases, 0);

    down(Grave, Chord | HotkeyConfig::Shift);
    EXPECT_EQ(m_presses, 1);
    up(Grave, 0);

    // Flags that are no chord modifier (Caps Lock, keypad) neither help nor hurt.
    down(Grave, Chord | 0x10000 | 0x200000);
    EXPECT_EQ(m_presses, 2);
    up(Grave, 0);
    down(Grave, HotkeyConfig::Option | 0x100000);
    EXPECT_EQ(m_presses, 2);

    // A chord without modifiers matches the key whatever else is held.
    m_manager->setConfig({49, 0});
    down(49, HotkeyConfig::Control);
    EXPECT_EQ(m_presses, 3);
}

TEST_F(HotkeyManagerTest, ReleaseEndsTheHoldWhateverTheModifiers)
{
    down(Grave, Chord);
    // Command goes up first: its own key-up is another key and the hold goes on.
    up(CommandKey, HotkeyConfig::Option);
    EXPECT_TRUE(m_manager->isDown());
    EXPECT_EQ(m_releases, 0);
    up(Grave, HotkeyConfig::Option);
    EXPECT_EQ(m_releases, 1);
}

TEST_F(HotkeyManagerTest, RestartDuringAHoldEndsItSilently)
{
    m_manager->start();
    m_global->type(Grave, Chord, true);
    ASSERT_TRUE(m_manager->isDown());

    m_manager->setConfig({105, HotkeyConfig::Control | HotkeyConfig::Shift});
    m_manager->start();
    EXPECT_FALSE(m_manager->isDown());
    m_global->type(Grave, Chord, false);
    EXPECT_EQ(m_releases, 0);

    // The new chord is the one that counts now.
    m_global->type(Grave, Chord, true);
    EXPECT_EQ(m_presses, 1);
    m_global->type(105, HotkeyConfig::Control | HotkeyConfig::Shift, true);
    EXPECT_EQ(m_presses, 2);
    m_global->type(105, 0, false);
    EXPECT_EQ(m_releases, 1);
}

TEST_F(HotkeyManagerTest, KeyCodesBeyondSixteenBitsNeverMatch)
{
    m_manager->setConfig({65536 + Grave, Chord});
    down(Grave, Chord);
    down(65536 + Grave, Chord);
    m_manager->setConfig({65536, 0});
    down(65536, 0);
    down(0, 0);
    EXPECT_EQ(m_presses, 0);

    m_manager->setConfig({65535, 0});
    down(65535, 0);
    EXPECT_EQ(m_presses, 1);
}

TEST_F(HotkeyManagerTest, StartInstallsTheSourcesAndStopRemovesThem)
{
    m_global->type(Grave, Chord, true);
    EXPECT_EQ(m_presses, 0) << "nothing is watched before start()";
    EXPECT_FALSE(m_manager->isMonitoring());

    m_manager->start();
    EXPECT_TRUE(m_global->isActive());
    EXPECT_TRUE(m_local->isActive());
    EXPECT_TRUE(m_manager->isMonitoring());
    EXPECT_TRUE(m_manager->monitoringProblem().isEmpty());
    m_local->type(Grave, Chord, true);
    EXPECT_EQ(m_presses, 1);

    m_manager->stop();
    EXPECT_FALSE(m_manager->isDown());
    EXPECT_FALSE(m_global->isActive());
    EXPECT_FALSE(m_local->isActive());
    m_local->type(Grave, Chord, false);
    m_global->type(Grave, Chord, true);
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 0);

    m_manager->start();
    m_manager->start();
    EXPECT_EQ(m_global->starts, 3);
    m_global->type(Grave, Chord, true);
    m_global->type(Grave, Chord, false);
    EXPECT_EQ(m_presses, 2);
    EXPECT_EQ(m_releases, 1);
}

TEST(HotkeyManagerSources, SourceThatCannotStartIsSkippedAndExplained)
{
    auto global = std::make_unique<FakeKeyEventSource>(true, false);
    auto local = std::make_unique<FakeKeyEventSource>(false);
    FakeKeyEventSource *localSource = local.get();
    std::vector<std::unique_ptr<KeyEventSource>> sources;
    sources.push_back(std::move(global));
    sources.push_back(std::move(local));
    HotkeyManager manager(HotkeyConfig::defaultChord(), std::move(sources));
    int presses = 0;
    manager.setOnPress([&] { ++presses; });

    manager.start();
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_EQ(manager.monitoringProblem(), QStringLiteral("refused"));
    // Our own windows still work.
    localSource->type(Grave, Chord, true);
    EXPECT_EQ(presses, 1);
}

TEST_F(HotkeyManagerTest, CopiesOfOneKeystrokeFromBothSourcesCountOnce)
{
    m_manager->start();
    // The system-wide source delivers a whole tap before the local copies.
    m_global->type(Grave, Chord, true, 1000);
    m_global->type(Grave, Chord, false, 1090);
    m_local->type(Grave, Chord, true, 1000);
    m_local->type(Grave, Chord, false, 1090);
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 1);
    EXPECT_FALSE(m_manager->isDown());

    // The other order, with repeats in between.
    m_local->type(Grave, Chord, true, 2000);
    m_global->type(Grave, Chord, true, 2000);
    m_global->type(Grave, Chord, true, 2500);
    m_local->type(Grave, Chord, true, 2500);
    m_local->type(Grave, Chord, false, 2600);
    m_global->type(Grave, Chord, false, 2600);
    EXPECT_EQ(m_presses, 2);
    EXPECT_EQ(m_releases, 2);

    // Events without a time cannot be told apart and are each a keystroke.
    m_global->type(Grave, Chord, true);
    m_global->type(Grave, Chord, false);
    m_global->type(Grave, Chord, true);
    EXPECT_EQ(m_presses, 4);
}

} // namespace
