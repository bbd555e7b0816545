// Our own windows' key events, as Qt delivers them on X11.
#include "engine/LocalKeyEventSource.h"
#include "model/HotkeyConfig.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWindow>

#include <gtest/gtest.h>

using namespace pealix;

namespace {

constexpr quint32 GraveKeycode = 49; // X keycode: evdev 41 + 8

QKeyEvent keyEvent(QEvent::Type type, quint32 scanCode, quint32 keysym, Qt::KeyboardModifiers modifiers = {})
{
    return QKeyEvent(type, Qt::Key_unknown, modifiers, scanCode, keysym, 0);
}

TEST(LocalKeyEventSource, TranslatesScanCodeKeysymAndQtModifiers)
{
    QKeyEvent timed = keyEvent(QEvent::KeyPress, GraveKeycode, 0x60, Qt::AltModifier | Qt::MetaModifier);
    timed.setTimestamp(77);
    const auto chord = LocalKeyEventSource::translate(timed);
    ASSERT_TRUE(chord.has_value());
    EXPECT_EQ(chord->keyCode, 50u);
    EXPECT_EQ(chord->modifiers, HotkeyConfig::Option | HotkeyConfig::Command);
    EXPECT_EQ(chord->timestamp, 77u);

    const auto all = LocalKeyEventSource::translate(
        keyEvent(QEvent::KeyPress, GraveKeycode, 0x60,
                 Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier));
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->modifiers, HotkeyConfig::Shift | HotkeyConfig::Control);

    // No scan code (synthesised or foreign events): the keysym decides; F13 here.
    const auto bySymbol = LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, 0, 0xffca));
    ASSERT_TRUE(bySymbol.has_value());
    EXPECT_EQ(bySymbol->keyCode, 105u);

    // Neither gives a key in the numbering.
    EXPECT_FALSE(LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, 0, 0)));
    EXPECT_FALSE(LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, 4, 0x1008ff81)));
}

TEST(LocalKeyEventSource, SeesEachKeystrokeOnceAtItsWindowOnlyWhileStarted)
{
    QWindow window;
    QObject widgetStandIn;
    LocalKeyEventSource source;
    std::vector<std::pair<quint32, bool>> seen;
    QObject::connect(&source, &KeyEventSource::keyEvent,
                     [&](const KeyEvent &event, bool pressed) { seen.emplace_back(event.keyCode, pressed); });
    auto deliver = [](QObject *to, QEvent::Type type) {
        QKeyEvent event = keyEvent(type, GraveKeycode, 0x60);
        QCoreApplication::sendEvent(to, &event);
    };

    deliver(&window, QEvent::KeyPress);
    EXPECT_TRUE(seen.empty()) << "nothing is watched before start()";
    ASSERT_TRUE(source.start());
    deliver(&window, QEvent::KeyPress);
    // The same event passed on to a widget inside the window is no new keystroke.
    deliver(&widgetStandIn, QEvent::KeyPress);
    deliver(&window, QEvent::KeyRelease);
    const std::vector<std::pair<quint32, bool>> expected{{50u, true}, {50u, false}};
    EXPECT_EQ(seen, expected);
    source.stop();
    deliver(&window, QEvent::KeyPress);
    EXPECT_EQ(seen, expected);
}

} // namespace
