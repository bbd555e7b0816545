// The X11 source and the chord logic together, against a private Xvfb whose
// keyboard xdotool drives. Each step is awaited on the event loop: after the
// keys under test, a tap of Escape is sent, and once its release has arrived
// every earlier event has been handled (one connection delivers in order).
#include "engine/x11/X11KeyEventSource.h"
#include "engine/HotkeyManager.h"
#include "model/HotkeyConfig.h"
#include "support/TestEnvironment.h"
#include "support/XvfbDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <functional>
#include <optional>

using namespace pealix;
using namespace std::chrono_literals;

namespace {

constexpr quint32 Escape = 0x35;
constexpr quint32 Chord = HotkeyConfig::Option | HotkeyConfig::Command;

bool processEventsUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(10s);
    // Wakes the wait below now and then so the deadline is noticed.
    QTimer wake;
    wake.start(25ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Runs a program to its end; its output on failure, or nothing.
std::optional<QString> run(const QString &program, const QStringList &arguments,
                           const QByteArray &display = {})
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return std::nullopt;
    return arguments.join(' ') + QStringLiteral(": ") + process.errorString() +
           QString::fromLocal8Bit(process.readAll());
}

class X11HotkeyTest : public ::testing::Test
{
protected:
    struct Seen
    {
        KeyEvent event;
        bool pressed;
    };

    void SetUp() override
    {
        QString reason;
        m_display = test::xvfbDisplay(&reason);
        PEALIX_REQUIRE(!m_display.isEmpty(), reason.toStdString());
        PEALIX_REQUIRE(test::havePrograms({QStringLiteral("xdotool")}), "xdotool is not installed");
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.push_back(std::make_unique<X11KeyEventSource>(m_display));
        m_source = static_cast<X11KeyEventSource *>(sources.back().get());
        QObject::connect(m_source, &KeyEventSource::keyEvent, [this](const KeyEvent &event, bool pressed) {
            m_seen.push_back({event, pressed});
        });
        m_manager.emplace(HotkeyConfig::defaultChord(), std::move(sources));
        m_manager->setOnPress([this] { ++m_presses; });
        m_manager->setOnRelease([this] { ++m_releases; });
        m_manager->start();
        ASSERT_TRUE(m_manager->isMonitoring()) << m_manager->monitoringProblem().toStdString();
    }

    void TearDown() override
    {
        // Leave nothing held for the next case, whatever this one did.
        if (!m_display.isEmpty())
            run(QStringLiteral("xdotool"), {"keyup", "grave", "Super_L", "Alt_L"}, m_display);
    }

    // Runs these xdotool commands (keysym names, or X keycodes as numbers) and
    // a tap of Escape, and waits until the Escape's release has been seen.
    void type(const QStringList &commands)
    {
        const size_t from = m_seen.size();
        const auto error = run(QStringLiteral("xdotool"), commands + QStringList{"key", "Escape"}, m_display);
        ASSERT_FALSE(error) << error->toStdString();
        ASSERT_TRUE(processEventsUntil([&] {
            return std::any_of(m_seen.begin() + qsizetype(from), m_seen.end(),
                               [](const Seen &s) { return s.event.keyCode == Escape && !s.pressed; });
        })) << "the X server's key events did not arrive";
    }

    // The presses of this key, or of every key but Escape.
    std::vector<KeyEvent> pressesOf(std::optional<quint32> keyCode = {}) const
    {
        std::vector<KeyEvent> found;
        for (const Seen &seen : m_seen) {
            if (seen.pressed && (keyCode ? seen.event.keyCode == *keyCode : seen.event.keyCode != Escape))
                found.push_back(seen.event);
        }
        return found;
    }

    QByteArray m_display;
    X11KeyEventSource *m_source = nullptr;
    std::optional<HotkeyManager> m_manager;
    std::vector<Seen> m_seen;
    int m_presses = 0;
    int m_releases = 0;
};

// The whole scenario runs while a window of another client has the focus.
TEST_F(X11HotkeyTest, ChordHoldsFromModifiersAndKeyToTheKeysReleaseWhateverHasTheFocus)
{
    Display *x = XOpenDisplay(m_display.constData());
    ASSERT_NE(x, nullptr);
    // Without a window manager a mapped window is viewable once XSync returns.
    const Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 10, 10, 200, 100, 0, 0, 0);
    XMapRaised(x, window);
    XSync(x, False);
    XSetInputFocus(x, window, RevertToPointerRoot, CurrentTime);
    auto focus = [x] {
        Window focused = 0;
        int revert = 0;
        XGetInputFocus(x, &focused, &revert);
        return focused;
    };
    ASSERT_EQ(focus(), window);

    // The key alone, or with Alt only, is no chord.
    type({"key", "grave", "keydown", "Alt_L", "key", "grave", "keyup", "Alt_L"});
    ASSERT_EQ(pressesOf(50).size(), 2u);
    EXPECT_EQ(pressesOf(50)[0].modifiers, 0u);
    EXPECT_EQ(pressesOf(50)[1].modifiers, HotkeyConfig::Option);
    EXPECT_EQ(m_presses, 0);

    // Pressing a key that is already down is what the server's autorepeat sends.
    type({"keydown", "Alt_L", "Super_L", "grave", "grave", "grave", "grave", "grave", "grave"});
    EXPECT_EQ(m_presses, 1);
    EXPECT_TRUE(m_manager->isDown());
    const auto presses = pressesOf(50);
    ASSERT_GE(presses.size(), 4u) << "the repeats never reached the manager";
    for (size_t i = 2; i < presses.size(); ++i)
        EXPECT_EQ(presses[i].modifiers, Chord);
    // Letting go of Super before the key does not end the hold.
    type({"keyup", "Super_L"});
    EXPECT_EQ(m_releases, 0);
    type({"keyup", "grave", "Alt_L"});
    EXPECT_EQ(m_presses, 1);
    EXPECT_EQ(m_releases, 1);
    EXPECT_FALSE(m_manager->isDown());
    EXPECT_EQ(m_source->heldModifiers(), 0u);

    // Modifiers held before watching began count: a fresh start asks the server.
    type({"keydown", "Alt_L", "Super_L"});
    m_manager->start();
    EXPECT_EQ(m_source->heldModifiers(), Chord);
    type({"key", "grave", "keyup", "Super_L", "Alt_L"});
    EXPECT_EQ(m_presses, 2);
    EXPECT_EQ(m_releases, 2);
    EXPECT_EQ(focus(), window) << "the source must not take the focus or grab keys";
    XCloseDisplay(x);
}

TEST_F(X11HotkeyTest, KeysMapToTheChordNumbering)
{
    // X keycode (evdev code + 8) and key code: first the keys the Hotkey
    // settings offer (grave, Space, B, H, T, F13-F15), then the letters, digits and F1-F12.
    const std::pair<unsigned, quint32> expected[] = {
        {49, 50},   {65, 49},   {56, 11},   {43, 4},    {28, 17},   {191, 105}, {192, 107}, {193, 113},
        {38, 0x00}, {56, 0x0B}, {54, 0x08}, {40, 0x02}, {26, 0x0E}, {41, 0x03}, {42, 0x05}, {43, 0x04},
        {31, 0x22}, {44, 0x26}, {45, 0x28}, {46, 0x25}, {58, 0x2E}, {57, 0x2D}, {32, 0x1F}, {33, 0x23},
        {24, 0x0C}, {27, 0x0F}, {39, 0x01}, {28, 0x11}, {30, 0x20}, {55, 0x09}, {25, 0x0D}, {53, 0x07},
        {29, 0x10}, {52, 0x06}, {19, 0x1D}, {10, 0x12}, {11, 0x13}, {12, 0x14}, {13, 0x15}, {14, 0x17},
        {15, 0x16}, {16, 0x1A}, {17, 0x1C}, {18, 0x19}, {67, 0x7A}, {68, 0x78}, {69, 0x63}, {70, 0x76},
        {71, 0x60}, {72, 0x61}, {73, 0x62}, {74, 0x64}, {75, 0x65}, {76, 0x6D}, {95, 0x67}, {96, 0x6F}};
    const char *names[] = {"`", "Space", "B", "H", "T", "F13", "F14", "F15"};
    QStringList tap{QStringLiteral("key")};
    for (const auto &[xKeycode, keyCode] : expected)
        tap << QString::number(xKeycode);
    type(tap);

    const auto presses = pressesOf();
    ASSERT_EQ(presses.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(presses[i].keyCode, expected[i].second) << "X keycode " << expected[i].first;
        if (i < std::size(names)) {
            EXPECT_EQ(HotkeyConfig::keyName(presses[i].keyCode).toStdString(), names[i]);
        }
    }
}

TEST(X11KeyEventSourceLifetime, WithoutAnXServerNothingIsInstalledAndTheReasonIsGiven)
{
    std::vector<std::unique_ptr<KeyEventSource>> sources;
    // No server listens on this local socket.
    sources.push_back(std::make_unique<X11KeyEventSource>("unix:65123"));
    KeyEventSource *x11 = sources.back().get();
    HotkeyManager manager(HotkeyConfig::defaultChord(), std::move(sources));
    manager.start();
    EXPECT_FALSE(x11->isActive());
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_TRUE(manager.monitoringProblem().contains(QStringLiteral("X display")))
        << manager.monitoringProblem().toStdString();
}

TEST(X11KeyEventSourceLifetime, LosingTheServerEndsTheSourceNotTheProcess)
{
    PEALIX_REQUIRE(test::havePrograms({QStringLiteral("Xvfb")}), "Xvfb is not installed");
    QTemporaryDir state;
    const QString stateDir = state.path() + QStringLiteral("/xvfb");
    const QString script = QStringLiteral(PEALIX_XVFB_SCRIPT);
    ASSERT_FALSE(run(script, {"start", stateDir}));
    QFile displayFile(stateDir + QStringLiteral("/display"));
    ASSERT_TRUE(displayFile.open(QIODevice::ReadOnly));

    X11KeyEventSource source(displayFile.readAll().trimmed());
    const bool started = source.start();
    ASSERT_FALSE(run(script, {"stop", stateDir}));
    ASSERT_TRUE(started);
    EXPECT_TRUE(processEventsUntil([&] { return !source.isActive(); }));
    EXPECT_FALSE(source.problem().isEmpty());
    // And it can be asked again later without harm.
    EXPECT_FALSE(source.start());
}

} // namespace
