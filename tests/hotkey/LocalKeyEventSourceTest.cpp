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

std::unique_ptr<QKeyEvent> keyEvent(QEvent::Type type, quint32 scanCode, quint32 keysym,
                                    Qt::KeyboardModifiers modifiers, quint64 timestamp = 0)
{
    auto event = std::make_unique<QKeyEvent>(type, Qt::Key_unknown, modifiers, scanCode, keysym, 0);
    event->setTimestamp(timestamp);
    return event;
}

TEST(LocalKeyEventSource, TranslatesScanCodeKeysymAndQtModifiers)
{
    const auto chord = LocalKeyEventSource::translate(
        *keyEvent(QEvent::KeyPress, GraveKeycode, 0x60, Qt::AltModifier | Qt::MetaModifier, 77));
    ASSERT_TRUE(chord.has_value());
    EXPECT_EQ(chord->keyCode, 50u);
    EXPECT_EQ(chord->modifiers, HotkeyConfig::Option | HotkeyConfig::Command);
    EXPECT_EQ(chord->timestamp, 77u);

    const auto all = LocalKeyEventSource::translate(
        *keyEvent(QEvent::KeyPress, GraveKeycode, 0x60,
                  Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier));
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->modifiers, HotkeyConfig::Shift | HotkeyConfig::Control);

    // No scan code (synthesised or foreign events): the keysym decides; F13 here.
    const auto bySymbol =
        LocalKeyEventSource::translate(*keyEvent(QEvent::KeyPress, 0, 0xffca, Qt::NoModifier));
    ASSERT_TRUE(bySymbol.has_value());
    EXPECT_EQ(bySymbol->keyCode, 105u);

    // Neither gives a key in the numbering.
    EXPECT_FALSE(LocalKeyEventSource::translate(*keyEvent(QEvent::KeyPress, 0, 0, Qt::NoModifier)));
    EXPECT_FALSE(LocalKeyEventSource::translate(*keyEvent(QEvent::KeyPress, 4, 0x1008ff81, Qt::NoModifier)));
}

TEST(LocalKeyEventSource, SeesEachKeystrokeOnceAtItsWindowOnlyWhileStarted)
{
    QWindow window;
    QObject widgetStandIn;
    LocalKeyEventSource source;
    std::vector<std::pair<quint32, bool>> seen;
    QObject::connect(&source, &KeyEventSource::keyEvent,
                     [&](const KeyEvent &event, bool pressed) { seen.emplace_back(event.keyCode, pressed); });

    auto deliver = [&](QObject *to, QEvent::Type type) {
        const auto event = keyEvent(type, GraveKeycode, 0x60, Qt::NoModifier);
        QCoreApplication::sendEvent(to, event.get());
    };

    deliver(&window, QEvent::KeyPress);
    EXPECT_TRUE(seen.empty()) << "nothing is watched before start()";

    ASSERT_TRUE(source.start());
    deliver(&window, QEvent::KeyPress);
    // The same event passed on to a widget inside the window is no new keystroke.
    deliver(&widgetStandIn, QEvent::KeyPress);
    deliver(&window, QEvent::KeyRelease);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(50u, true));
    EXPECT_EQ(seen[1], std::make_pair(50u, false));

    source.stop();
    deliver(&window, QEvent::KeyPress);
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
