// One hold of the chord while a window of ours has the focus, on a private
// Xvfb with the keyboard's auto-repeat on: X11 hands each repeat to the focused
// window as a release/press pair, and the X11 source sees the same keys again.
// Whatever reaches which source, one hold is one press and one release.
#include "hotkey/HotkeyManager.h"
#include "hotkey/LocalKeyEventSource.h"
#include "hotkey/x11/X11KeyEventSource.h"
#include "support/EventLoopWait.h"
#include "support/TestEnvironment.h"

#include "HoldLog.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QWindow>

#include <gtest/gtest.h>

using namespace pealix;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using test::processEventsUntil;

namespace {

constexpr quint32 GraveKeycode = 49; // X keycode of the key left of 1
constexpr quint32 EscapeKeycode = 9;
constexpr quint32 Escape = 0x35;

// The display of the Xvfb that xvfb-fixture.sh started, or empty.
QByteArray fixtureDisplay()
{
    QFile file(qEnvironmentVariable("PEALIX_XVFB_STATE") + u"/display"_s);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// Counts what Qt delivers to a window: presses of the key, and Escape's release.
struct KeyCounter : QObject
{
    int gravePresses = 0;
    bool escapeReleased = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        const bool press = event->type() == QEvent::KeyPress, release = event->type() == QEvent::KeyRelease;
        if (press || release) {
            const quint32 keycode = static_cast<QKeyEvent *>(event)->nativeScanCode();
            gravePresses += press && keycode == GraveKeycode;
            escapeReleased = escapeReleased || (release && keycode == EscapeKeycode);
        }
        return false;
    }
};

TEST(OwnWindowHold, ChordHeldTwoSecondsInOurFocusedWindowWithRepeatsIsOnePressAndOneRelease)
{
    PEALIX_REQUIRE(QGuiApplication::platformName() == u"xcb"_s,
                   "no Xvfb from the fixture for Qt to show a window on");
    PEALIX_REQUIRE(test::havePrograms({u"xdotool"_s, u"xset"_s}),
                   "xdotool and xset (x11-xserver-utils) are needed");
    ASSERT_EQ(QProcess::execute(u"xset"_s, {u"r"_s, u"on"_s}), 0);

    QWindow window;
    window.resize(200, 100);
    window.show();
    window.requestActivate();
    ASSERT_TRUE(processEventsUntil([&] { return window.isExposed() && window.isActive(); }))
        << "our window never got the keyboard focus";
    KeyCounter counter;
    window.installEventFilter(&counter);

    // The sources of a build with X11: the system-wide one and our own windows'.
    auto *x11 = new X11KeyEventSource(fixtureDisplay());
    bool x11SawEscapeRelease = false;
    QObject::connect(x11, &KeyEventSource::keyEvent, [&](const KeyEvent &event, bool pressed) {
        x11SawEscapeRelease = x11SawEscapeRelease || (event.keyCode == Escape && !pressed);
    });
    test::HoldLog rig(HotkeyConfig::defaultChord(), {x11, new LocalKeyEventSource});
    rig.manager.start();
    ASSERT_TRUE(rig.manager.isMonitoring()) << rig.manager.monitoringProblem().toStdString();

    ASSERT_EQ(QProcess::execute(u"xdotool"_s, {u"keydown"_s, u"Alt_L"_s, u"Super_L"_s, u"grave"_s}), 0);
    // The hold itself: two seconds of the event loop running, repeats arriving.
    processEventsUntil([] { return false; }, 2s);
    ASSERT_EQ(QProcess::execute(u"xdotool"_s,
                                {u"keyup"_s, u"grave"_s, u"Super_L"_s, u"Alt_L"_s, u"key"_s, u"Escape"_s}),
              0);
    // Escape's release comes after everything else on both connections.
    ASSERT_TRUE(processEventsUntil([&] { return counter.escapeReleased && x11SawEscapeRelease; }));

    EXPECT_EQ(rig.log, "PR");
    // Otherwise the scenario would not be the one under test.
    EXPECT_GE(counter.gravePresses, 5) << "the window should have seen the key repeat";
    EXPECT_FALSE(rig.manager.isDown());
}

} // namespace

int main(int argc, char **argv)
{
    // Qt shows its windows on the fixture's Xvfb; without one (listing the
    // cases, a developer's run) it starts without a display and the case says so.
    const QByteArray display = fixtureDisplay();
    qunsetenv("WAYLAND_DISPLAY");
    if (display.startsWith(':')) {
        qputenv("DISPLAY", display);
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
