// The X11 source and the chord logic together, against a private Xvfb whose
// keyboard xdotool drives. Each step is awaited on the event loop: after the
// keys under test, a tap of Escape is sent, and once its release has arrived
// every earlier event has been handled (one connection delivers in order).
#include "engine/x11/X11KeyEventSource.h"
#include "X11TestKeyboard.h"
#include "engine/HotkeyManager.h"
#include "model/HotkeyConfig.h"
#include "support/TestEnvironment.h"
#include "support/XvfbDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace pealix;
using namespace std::chrono_literals;

namespace {

constexpr quint32 Escape = 0x35;

struct Seen
{
    KeyEvent event;
    bool pressed;
};

bool processEventsUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 10s)
{
    QDeadlineTimer deadline(limit);
    // Wakes the wait below now and then so the deadline is noticed.
    QTimer wake;
    wake.start(25ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

class X11HotkeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString reason;
        m_display = test::xvfbDisplay(&reason);
        PEALIX_REQUIRE(!m_display.isEmpty(), reason.toStdString());
        PEALIX_REQUIRE(test::havePrograms({QStringLiteral("xdotool")}), "xdotool is not installed");
        m_keyboard.emplace(m_display);
        ASSERT_TRUE(m_keyboard->isConnected());

        auto source = std::make_unique<X11KeyEventSource>(m_display);
        m_source = source.get();
        QObject::connect(m_source, &KeyEventSource::keyEvent, [this](const KeyEvent &event, bool pressed) {
            m_seen.push_back({event, pressed});
        });
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.push_back(std::move(source));
        m_manager.emplace(HotkeyConfig::defaultChord(), std::move(sources));
        m_manager->setOnPress([this] { ++m_presses; });
        m_manager->setOnRelease([this] { ++m_releases; });
        m_manager->start();
        ASSERT_TRUE(m_manager->isMonitoring()) << m_manager->monitoringProblem().toStdString();
    }

    void TearDown() override
    {
        // Leave nothing held for the next case, whatever this one did.
        if (m_keyboard)
            m_keyboard->xdotool({QStringLiteral("keyup"), QStringLiteral("grave"), QStringLiteral("Super_L"),
                                 QStringLiteral("Alt_L")});
    }

    void keys(const QStringList &arguments)
    {
        QString error;
        ASSERT_TRUE(m_keyboard->xdotool(arguments, &error)) << error.toStdString();
    }

    // Taps Escape and waits until its release has been seen.
    void settle()
    {
        const size_t from = m_seen.size();
        keys({QStringLiteral("key"), QStringLiteral("Escape")});
        const bool arrived = processEventsUntil([&] {
            for (size_t i = from; i < m_seen.size(); ++i) {
                if (m_seen[i].event.keyCode == Escape && !m_seen[i].pressed)
                    return true;
            }
            return false;
        });
        ASSERT_TRUE(arrived) << "the X server's key events did not arrive";
    }

    std::vector<Seen> pressesOf(quint32 keyCode) const
    {
        std::vector<Seen> found;
        for (const Seen &seen : m_seen) {
            if (seen.pressed && seen.event.keyCode == keyCode)
                found.push_back(seen);
        }
        return found;
    }

    QByteArray m_display;
    std::optional<test::X11TestKeyboard> m_keyboard;
    X11KeyEventSource *m_source = nullptr;
    std::optional<HotkeyManager> m_manager;
    std::vector<Seen> m_seen;
    int m_presses = 0;
    int m_releases = 0;
};

TEST_F(X11HotkeyTest, HoldWithRepeatsGivesOnePressAndOneRelease)
{
    keys({"keydown", "Alt_L", "Super_L"});
    // Pressing a key that is already down is what the server's autorepeat sends.
    keys({"keydown", "grave", "grave", "grave", "grave", "grave", "grave"});
    settle();
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 0);
    EXPECT_TRUE(m_manager->isDown());
    const auto presses = pressesOf(50);
    ASSERT_GE(presses.size(), 2u) << "the repeats never reached the manager";
    for (const Seen &seen : presses)
        EXPECT_EQ(seen.event.modifiers, HotkeyConfig::Option | HotkeyConfig::Command);

    keys({"keyup", "grave"});
    keys({"keyup", "Super_L", "Alt_L"});
    settle();
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 1);
    EXPECT_FALSE(m_manager->isDown());
    EXPECT_EQ(m_source->heldModifiers(), 0u);
}

TEST_F(X11HotkeyTest, KeyWithoutTheChordModifiersDoesNothing)
{
    keys({"key", "grave"});
    keys({"keydown", "Alt_L"});
    keys({"key", "grave"});
    keys({"keyup", "Alt_L"});
    settle();
    ASSERT_EQ(pressesOf(50).size(), 2u);
    EXPECT_EQ(pressesOf(50)[0].event.modifiers, 0u);
    EXPECT_EQ(pressesOf(50)[1].event.modifiers, HotkeyConfig::Option);
    EXPECT_EQ(m_presses, 0);
    EXPECT_EQ(m_releases, 0);

    // The modifiers pressed first and the key afterwards start the hold; letting
    // go of Super before the key does not end it.
    keys({"keydown", "Super_L", "Alt_L", "grave"});
    keys({"keyup", "Super_L"});
    settle();
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 0);
    keys({"keyup", "grave", "Alt_L"});
    settle();
    EXPECT_EQ(m_releases, 1);
}

TEST_F(X11HotkeyTest, ChordIsSeenWhileAnotherWindowHasTheFocus)
{
    const unsigned long window = m_keyboard->focusNewWindow();
    ASSERT_NE(window, 0u);
    ASSERT_EQ(m_keyboard->focusedWindow(), window);

    keys({"keydown", "Alt_L", "Super_L", "grave"});
    EXPECT_TRUE(processEventsUntil([this] { return m_presses == 1; }));
    keys({"keyup", "grave", "Super_L", "Alt_L"});
    EXPECT_TRUE(processEventsUntil([this] { return m_releases == 1; }));
    EXPECT_EQ(m_keyboard->focusedWindow(), window) << "the source must not take the focus or grab keys";
}

TEST_F(X11HotkeyTest, ModifiersHeldBeforeWatchingBeganCount)
{
    keys({"keydown", "Alt_L", "Super_L"});
    settle();
    // A fresh start asks the server which keys are down.
    m_manager->start();
    EXPECT_EQ(m_source->heldModifiers(), HotkeyConfig::Option | HotkeyConfig::Command);
    keys({"key", "grave"});
    keys({"keyup", "Super_L", "Alt_L"});
    settle();
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 1);
}

TEST_F(X11HotkeyTest, KeysMapToTheChordNumbering)
{
    struct Expected
    {
        unsigned xKeycode; // evdev code + 8
        quint32 keyCode;
        QString name; // HotkeyConfig::keyName, empty for keys it has no name for
    };
    // The keys the Hotkey settings offer, then the letters, digits and F1-F12.
    std::vector<Expected> expected{{49, 50, "`"}, {65, 49, "Space"}, {56, 11, "B"},     {43, 4, "H"},
                                   {28, 17, "T"}, {191, 105, "F13"}, {192, 107, "F14"}, {193, 113, "F15"}};
    const std::vector<std::pair<unsigned, quint32>> others{
        {38, 0x00}, {56, 0x0B}, {54, 0x08}, {40, 0x02}, {26, 0x0E}, {41, 0x03}, {42, 0x05}, {43, 0x04},
        {31, 0x22}, {44, 0x26}, {45, 0x28}, {46, 0x25}, {58, 0x2E}, {57, 0x2D}, {32, 0x1F}, {33, 0x23},
        {24, 0x0C}, {27, 0x0F}, {39, 0x01}, {28, 0x11}, {30, 0x20}, {55, 0x09}, {25, 0x0D}, {53, 0x07},
        {29, 0x10}, {52, 0x06}, {19, 0x1D}, {10, 0x12}, {11, 0x13}, {12, 0x14}, {13, 0x15}, {14, 0x17},
        {15, 0x16}, {16, 0x1A}, {17, 0x1C}, {18, 0x19}, {67, 0x7A}, {68, 0x78}, {69, 0x63}, {70, 0x76},
        {71, 0x60}, {72, 0x61}, {73, 0x62}, {74, 0x64}, {75, 0x65}, {76, 0x6D}, {95, 0x67}, {96, 0x6F}};
    for (const auto &[xKeycode, keyCode] : others)
        expected.push_back({xKeycode, keyCode, {}});

    // xdotool takes keysym names and picks the first keycode carrying one.
    // Xvfb's keymap (like most desktops') names the F13-F15 keys XF86Tools,
    // XF86Launch5 and XF86Launch6, names that other keycodes carry too.
    ASSERT_TRUE(m_keyboard->bindKeysym(191, QStringLiteral("F13")));
    ASSERT_TRUE(m_keyboard->bindKeysym(192, QStringLiteral("F14")));
    ASSERT_TRUE(m_keyboard->bindKeysym(193, QStringLiteral("F15")));
    QStringList tap{QStringLiteral("key")};
    for (const Expected &key : expected) {
        const QString name = m_keyboard->keysymName(key.xKeycode);
        ASSERT_FALSE(name.isEmpty()) << "keycode " << key.xKeycode << " has no keysym on this server";
        tap << name;
    }
    keys(tap);
    settle();

    std::vector<quint32> pressed;
    for (const Seen &seen : m_seen) {
        if (seen.pressed && seen.event.keyCode != Escape)
            pressed.push_back(seen.event.keyCode);
    }
    ASSERT_EQ(pressed.size(), expected.size()) << tap.join(QLatin1Char(' ')).toStdString();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(pressed[i], expected[i].keyCode) << "X keycode " << expected[i].xKeycode;
        if (!expected[i].name.isEmpty()) {
            EXPECT_EQ(HotkeyConfig::keyName(pressed[i]).toStdString(), expected[i].name.toStdString());
        }
    }
}

} // namespace
