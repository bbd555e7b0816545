// Our own windows' key events, as Qt delivers them on X11, and the keysym side
// of the key translation (the Linux-code side is checked key by key against a
// real X server in the X11 tests).
#include "engine/LocalKeyEventSource.h"
#include "engine/KeyCodeMap.h"
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

TEST(LocalKeyEventSource, TranslatesScanCodesKeysymsAndQtModifiers)
{
    QKeyEvent timed = keyEvent(QEvent::KeyPress, GraveKeycode, 0);
    timed.setTimestamp(77);
    const KeyEvent grave = LocalKeyEventSource::translate(timed).value();
    EXPECT_EQ(grave.keyCode, 50u);
    EXPECT_EQ(grave.timestamp, 77u);
    const std::pair<Qt::KeyboardModifiers, quint32> modifiers[] = {
        {Qt::AltModifier, HotkeyConfig::Option},
        {Qt::MetaModifier, HotkeyConfig::Command},
        {Qt::ShiftModifier, HotkeyConfig::Shift},
        {Qt::ControlModifier, HotkeyConfig::Control},
        {Qt::KeypadModifier | Qt::GroupSwitchModifier, 0}};
    for (const auto &[qt, chord] : modifiers) {
        const auto event = LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, GraveKeycode, 0x60, qt));
        EXPECT_EQ(event.value().modifiers, chord) << qt.toInt();
    }
    // No scan code (synthesised or foreign events): the keysym decides; F13 here.
    EXPECT_EQ(LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, 0, 0xffca)).value().keyCode, 105u);
    EXPECT_FALSE(LocalKeyEventSource::translate(keyEvent(QEvent::KeyPress, 4, 0x1008ff81)));

    // grave, space, B, H, T, F13-F15 (the keys the Hotkey settings offer), an
    // upper-case letter, a digit, F20, and XF86Tools, which names no key of its own.
    const std::pair<quint32, std::optional<quint32>> keysyms[] = {
        {0x60, 50},    {0x20, 49},    {0x62, 11}, {0x68, 4},   {0x74, 17},     {0xffca, 105},
        {0xffcb, 107}, {0xffcc, 113}, {'Q', 12},  {'5', 0x17}, {0xffd1, 0x5A}, {0x1008ff81, std::nullopt}};
    for (const auto &[keysym, keyCode] : keysyms)
        EXPECT_EQ(KeyCodeMap::fromKeysym(keysym), keyCode) << keysym;
    // Keysyms 'a' (97) and '}' (125) equal the right Ctrl's and left Super's
    // Linux codes, and are letters all the same.
    const std::pair<quint32, quint32> modifierKeysyms[] = {
        {0xffec, HotkeyConfig::Command}, {0xffe7, HotkeyConfig::Option}, {0xffe5, 0}, {'a', 0}, {'}', 0}};
    for (const auto &[keysym, bit] : modifierKeysyms)
        EXPECT_EQ(KeyCodeMap::modifierOfKeysym(keysym), bit) << keysym;
    EXPECT_EQ(KeyCodeMap::modifierOfLinuxKey(100), HotkeyConfig::Option); // right Alt
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

    deliver(&window, QEvent::KeyPress); // before start()
    ASSERT_TRUE(source.start());
    deliver(&window, QEvent::KeyPress);
    // The same event passed on to a widget inside the window is no new keystroke.
    deliver(&widgetStandIn, QEvent::KeyPress);
    deliver(&window, QEvent::KeyRelease);
    source.stop();
    deliver(&window, QEvent::KeyPress);
    EXPECT_EQ(seen, (std::vector<std::pair<quint32, bool>>{{50u, true}, {50u, false}}));
}

} // namespace
