// The X11 source and the chord logic together, against a private Xvfb whose
// keyboard xdotool drives. Each step is awaited on the event loop: after the
// keys under test, a tap of Escape is sent, and once its release has arrived
// every earlier event has been handled (one connection delivers in order).
#include "hotkey/x11/X11KeyEventSource.h"
#include "hotkey/HotkeyManager.h"
#include "support/EventLoopWait.h"
#include "support/PrivateSessionBus.h"
#include "support/TestEnvironment.h"

#include "HoldLog.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::processEventsUntil;

namespace {

constexpr quint32 Escape = 0x35;
constexpr quint32 Chord = HotkeyConfig::Option | HotkeyConfig::Command;

// The display of the Xvfb that xvfb-fixture.sh started with this state folder.
QByteArray xvfbDisplay(const QString &stateDir)
{
    QFile file(stateDir + u"/display"_s);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// The whole scenario runs while a window of another client has the focus.
TEST(X11KeyEventSource, ChordHoldsUntilTheKeysReleaseWhateverHasTheFocusAndEveryKeyMaps)
{
    const QByteArray display = xvfbDisplay(qEnvironmentVariable("PEALIX_XVFB_STATE"));
    PEALIX_REQUIRE(display.startsWith(':') && test::havePrograms({u"xdotool"_s}), "no Xvfb or xdotool");
    qputenv("DISPLAY", display);   // for xdotool and the other client
    std::vector<quint32> keysDown; // the key code of every press but Escape's
    int escapeReleases = 0;
    auto *source = new X11KeyEventSource(display);
    QObject::connect(source, &KeyEventSource::keyEvent, [&](const KeyEvent &event, bool pressed) {
        if (event.keyCode == Escape)
            escapeReleases += !pressed;
        else if (pressed)
            keysDown.push_back(event.keyCode);
    });
    test::HoldLog rig(HotkeyConfig::defaultChord(), {source});
    rig.manager.start();
    ASSERT_TRUE(rig.manager.isMonitoring()) << rig.manager.monitoringProblem().toStdString();
    // Runs these xdotool commands and a tap of Escape; true once the Escape's release has arrived.
    const auto type = [&](const QString &commands) {
        const int before = escapeReleases;
        return QProcess::execute(u"xdotool"_s, (commands + u" key Escape"_s).split(' ')) == 0 &&
               processEventsUntil([&] { return escapeReleases > before; });
    };

    Display *x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    // Without a window manager a mapped window is viewable once XSync returns;
    // the second XSync has the focus set before xdotool's keys arrive.
    const Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 10, 10, 200, 100, 0, 0, 0);
    XMapRaised(x, window);
    XSync(x, False);
    XSetInputFocus(x, window, RevertToPointerRoot, CurrentTime);
    XSync(x, False);

    ASSERT_TRUE(type(u"key grave keydown Alt_L key grave keyup Alt_L"_s));
    EXPECT_EQ(rig.log, "") << "the key alone, or with Alt only, is no chord";
    // Pressing a key that is already down is what the server's autorepeat sends.
    keysDown.clear();
    ASSERT_TRUE(type(u"keydown Alt_L Super_L grave grave grave grave"_s));
    EXPECT_EQ(rig.log, "P");
    EXPECT_EQ(keysDown.size(), 6u) << "Alt, Super and four presses of grave should have arrived";
    // Letting go of Super before the key does not end the hold.
    ASSERT_TRUE(type(u"keyup Super_L grave Alt_L"_s));
    EXPECT_EQ(rig.log, "PR");
    EXPECT_EQ(source->heldModifiers(), 0u);

    // Modifiers held before watching began count: a fresh start asks the server.
    ASSERT_TRUE(type(u"keydown Alt_L Super_L"_s));
    rig.manager.start();
    EXPECT_EQ(source->heldModifiers(), Chord);
    ASSERT_TRUE(type(u"key grave keyup Super_L Alt_L"_s));
    EXPECT_EQ(rig.log, "PRPR");
    XCloseDisplay(x);

    // X keycode (evdev code + 8) and key code: first the keys the Hotkey
    // settings offer (grave, Space, B, H, T, F13-F15), then A, Q, O, Z, 1, 9, 0, F1, F10, F11, F12.
    const std::pair<unsigned, quint32> expected[] = {
        {49, 50},   {65, 49},   {56, 11},   {43, 4},    {28, 17},   {191, 105}, {192, 107},
        {193, 113}, {38, 0x00}, {24, 0x0C}, {32, 0x1F}, {52, 0x06}, {10, 0x12}, {18, 0x19},
        {19, 0x1D}, {67, 0x7A}, {76, 0x6D}, {95, 0x67}, {96, 0x6F}};
    QString tap = u"key"_s;
    for (const auto &[xKeycode, keyCode] : expected)
        tap += u' ' + QString::number(xKeycode);
    keysDown.clear();
    ASSERT_TRUE(type(tap));
    ASSERT_EQ(keysDown.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(keysDown[i], expected[i].second) << "X keycode " << expected[i].first;
}

TEST(X11KeyEventSourceLifetime, WithoutAnXServerNothingIsInstalledAndLosingItEndsTheSourceNotTheProcess)
{
    qputenv("DISPLAY", "unix:65123"); // no server listens on this local socket
    qunsetenv("WAYLAND_DISPLAY");     // an X session, even when the test runs inside a Wayland one
    qunsetenv("XDG_SESSION_TYPE");
    HotkeyManager manager;
    manager.start();
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_TRUE(manager.monitoringProblem().contains(u"X display"_s));

    PEALIX_REQUIRE(test::havePrograms({u"Xvfb"_s}), "Xvfb is not installed");
    QTemporaryDir state;
    const QString script = QStringLiteral(PEALIX_XVFB_SCRIPT), stateDir = state.filePath(u"xvfb"_s);
    ASSERT_EQ(QProcess::execute(script, {u"start"_s, stateDir}), 0);
    X11KeyEventSource source(xvfbDisplay(stateDir));
    const bool started = source.start();
    ASSERT_EQ(QProcess::execute(script, {u"stop"_s, stateDir}), 0);
    ASSERT_TRUE(started);
    EXPECT_TRUE(processEventsUntil([&] { return !source.isActive(); }));
    EXPECT_FALSE(source.problem().isEmpty());
    EXPECT_FALSE(source.start()); // and it can be asked again later without harm
}

// Under Wayland an X server is XWayland, which sees keys only while one of its
// own windows has the focus: a reachable X display must not pass for a global
// monitor there. The session bus has no portal, so nothing watches at all.
TEST(X11KeyEventSourceLifetime, InAWaylandSessionAReachableXDisplayIsNoGlobalMonitor)
{
    const QByteArray display = xvfbDisplay(qEnvironmentVariable("PEALIX_XVFB_STATE"));
    test::PrivateSessionBus bus;
    PEALIX_REQUIRE(display.startsWith(':') && bus.isRunning(),
                   "no Xvfb, or no dbus-daemon: " + bus.error().toStdString());
    qputenv("DISPLAY", display);
    qputenv("WAYLAND_DISPLAY", "wayland-pealix-test");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    HotkeyManager manager;
    manager.start();
    EXPECT_FALSE(manager.isMonitoring());
    EXPECT_TRUE(processEventsUntil([&] { return manager.monitoringProblem() == noGlobalHotkeyProblem(); }))
        << manager.monitoringProblem().toStdString();
    EXPECT_FALSE(manager.isMonitoring());
    manager.stop();
    qunsetenv("WAYLAND_DISPLAY");
}

} // namespace
