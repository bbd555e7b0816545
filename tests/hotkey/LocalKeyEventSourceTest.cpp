// Our own windows' key events, as Qt delivers them on X11, and the keysym side
// of the key translation (the Linux-code side is checked key by key against a
// real X server in the X11 tests).
#include "hotkey/LocalKeyEventSource.h"
#include "hotkey/KeyCodeMap.h"
#include "model/HotkeyConfig.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWindow>

#include <gtest/gtest.h>

using namespace pealix;

namespace {

constexpr quint32 GraveKeycode = 49; // X keycode: evdev 41 + 8

QKeyEvent keyEvent(quint32 scanCode, quint32 keysym, Qt::KeyboardModifiers modifiers = {},
                   QEvent::Type type = QEvent::KeyPress, bool autoRepeat = false)
{
    return QKeyEvent(type, Qt::Key_unknown, modifiers, scanCode, keysym, 0, QString(), autoRepeat);
}

constexpr auto translate = &LocalKeyEventSource::translate;

TEST(LocalKeyEventSource, TranslatesScanCodesKeysymsAndQtModifiers)
{
    QKeyEvent timed = keyEvent(GraveKeycode, 0);
    timed.setTimestamp(77);
    EXPECT_EQ(translate(timed).value().keyCode, 50u);
    EXPECT_EQ(translate(timed).value().timestamp, 77u);
    // clang-format off
    const std::pair<Qt::KeyboardModifiers, quint32> modifiers[] = {
        {Qt::AltModifier, HotkeyConfig::Option}, {Qt::MetaModifier, HotkeyConfig::Command},
        {Qt::ShiftModifier, HotkeyConfig::Shift}, {Qt::ControlModifier, HotkeyConfig::Control},
        {Qt::KeypadModifier | Qt::GroupSwitchModifier, 0}};
    // clang-format on
    for (const auto &[qt, chord] : modifiers)
        EXPECT_EQ(translate(keyEvent(GraveKeycode, 0x60, qt)).value().modifiers, chord) << qt.toInt();
    // No scan code (synthesised or foreign events): the keysym decides; F13 here.
    EXPECT_EQ(translate(keyEvent(0, 0xffca)).value().keyCode, 105u);
    EXPECT_FALSE(translate(keyEvent(4, 0x1008ff81)));

    // grave, space, a lower- and an upper-case letter, a digit, F15, F20, and
    // XF86Tools, which names no key of its own.
    const std::pair<quint32, std::optional<quint32>> keysyms[] = {
        {0x60, 50},  {0x20, 49},    {'h', 4},       {'Q', 12},
        {'5', 0x17}, {0xffcc, 113}, {0xffd1, 0x5A}, {0x1008ff81, {}}};
    for (const auto &[keysym, keyCode] : keysyms)
        EXPECT_EQ(KeyCodeMap::fromKeysym(keysym), keyCode) << keysym;
    // Keysyms 'a' (97) and '}' (125) equal the right Ctrl's and left Super's
    // Linux codes, and are letters all the same.
    const std::pair<quint32, quint32> modifierKeysyms[] = {
        {0xffec, HotkeyConfig::Command}, {0xffe7, HotkeyConfig::Option}, {0xffe5, 0}, {'a', 0}, {'}', 0}};
    for (const auto &[keysym, bit] : modifierKeysyms)
        EXPECT_EQ(KeyCodeMap::modifierOfKeysym(keysym), bit) << keysym;
}

TEST(LocalKeyEventSource, SeesEachKeystrokeOnceAtItsWindowOnlyWhileStartedAndNoMarkedRepeat)
{
    QWindow window;
    QObject widgetStandIn;
    LocalKeyEventSource source;
    std::vector<std::pair<quint32, bool>> seen;
    QObject::connect(&source, &KeyEventSource::keyEvent,
                     [&](const KeyEvent &event, bool pressed) { seen.emplace_back(event.keyCode, pressed); });
    auto deliver = [](QObject *to, QEvent::Type type, bool autoRepeat = false) {
        QKeyEvent event = keyEvent(GraveKeycode, 0x60, {}, type, autoRepeat);
        QCoreApplication::sendEvent(to, &event);
    };

    deliver(&window, QEvent::KeyPress); // before start()
    ASSERT_TRUE(source.start());
    deliver(&window, QEvent::KeyPress);
    // Repeats of the held key that Qt marks as such (Wayland marks them all).
    deliver(&window, QEvent::KeyRelease, true);
    deliver(&window, QEvent::KeyPress, true);
    // The same event passed on to a widget inside the window is no new keystroke.
    deliver(&widgetStandIn, QEvent::KeyPress);
    deliver(&window, QEvent::KeyRelease);
    source.stop();
    deliver(&window, QEvent::KeyPress);
    EXPECT_EQ(seen, (std::vector<std::pair<quint32, bool>>{{50u, true}, {50u, false}}));
}

} // namespace
