// The small pieces the panel is made of: chord and delivery texts, the level
// meter, the talk button's overlay, the symbols, where the popup goes.
#include "UiTestSupport.h"

#include "ui/ChordText.h"
#include "ui/DeliverySummary.h"
#include "ui/GlyphIcon.h"
#include "ui/LevelMeter.h"
#include "ui/PanelWindow.h"
#include "ui/TalkButton.h"

#include <QImage>

#include <cmath>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

TEST(ChordText, NamesModifiersTheLinuxWayInAFixedOrder)
{
    const std::tuple<const char *, HotkeyConfig, QString> rows[] = {
        {"the default chord", HotkeyConfig::defaultChord(), u"Alt+Super+`"_s},
        {"control and option with space",
         {49, HotkeyConfig::Control | HotkeyConfig::Option},
         u"Ctrl+Alt+Space"_s},
        {"all four, stored in any bit order", {105, 0x1B00}, u"Ctrl+Alt+Shift+Super+F13"_s},
        {"no modifiers", {49, 0}, u"Space"_s},
        {"a key without a name", {36, HotkeyConfig::Shift}, u"Shift+Key 36"_s},
        {"bits that are no modifier", {4, 0x10000 | HotkeyConfig::Command}, u"Super+H"_s},
    };
    for (const auto &[what, chord, text] : rows)
        EXPECT_EQ(chordText(chord), text) << what;
}

TEST(DeliverySummary, CountsRoomsAndNamesEverySpeakerThatDidNotPlay)
{
    using Outcome = Delivery::Outcome;
    const Speaker kitchen = sonosSpeaker(u"K"_s, u"Kitchen"_s);
    const Speaker tv = castSpeaker(u"tv"_s, u"Living Room TV"_s);
    const Speaker den = sonosSpeaker(u"D"_s, u"Den"_s);
    const Speaker nameless = castSpeaker(u"x"_s, QString(), u"10.0.0.9"_s);
    const std::tuple<const char *, QList<Delivery>, QString, QStringList> rows[] = {
        {"no broadcast yet", {}, QString(), {}},
        {"one room played", {{kitchen, Outcome::Played, {}}}, u"Played in 1 of 1 room"_s, {}},
        {"three of four, one refusal with its code",
         {{kitchen, Outcome::Played, {}},
          {tv, Outcome::Refused, u"LOAD_FAILED"_s},
          {den, Outcome::Played, {}},
          {kitchen, Outcome::Played, {}}},
         u"Played in 3 of 4 rooms"_s,
         {u"Living Room TV refused the clip (LOAD_FAILED)"_s}},
        {"nobody played, each for its own reason",
         {{kitchen, Outcome::NoAnswer, {}},
          {tv, Outcome::NotReady, {}},
          {den, Outcome::Refused, {}},
          {nameless, Outcome::NoAnswer, {}}},
         u"Played in 0 of 4 rooms"_s,
         {u"Kitchen didn't answer"_s, u"Living Room TV wasn't ready in time"_s, u"Den refused the clip"_s,
          u"10.0.0.9 didn't answer"_s}},
    };
    for (const auto &[what, deliveries, headline, missing] : rows) {
        const DeliverySummary summary = DeliverySummary::of(deliveries);
        EXPECT_EQ(summary.headline, headline) << what;
        EXPECT_EQ(summary.missing, missing) << what;
    }
}

TEST(LevelMeter, KeepsASliverAtSilenceAndStaysInsideItsTrack)
{
    LevelMeter meter;
    meter.resize(200, 3);
    const std::tuple<const char *, float, int> rows[] = {
        {"silence", 0.0f, 2},     {"half", 0.5f, 100},      {"full", 1.0f, 200},
        {"over full", 1.7f, 200}, {"not a number", NAN, 2}, {"below silence", -0.4f, 2},
    };
    for (const auto &[what, level, width] : rows) {
        meter.setLevel(level);
        EXPECT_EQ(meter.fillWidth(), width) << what;
    }
}

TEST(TalkButton, LaysTheMeterAlongItsBottomAndWrapsTheSubtitleOnANarrowPanel)
{
    TalkButton button;
    button.setContent(Glyph::Stop, IconTone::Red, u"Recording\u2026 tap to send"_s,
                      u"Release the hotkey or tap to broadcast"_s);
    button.resize(320, button.heightForWidth(320));
    button.show();
    const QRect meter = button.meter()->geometry();
    EXPECT_TRUE(button.rect().contains(meter) && meter.top() > button.height() / 2 && meter.width() > 250)
        << meter.x() << ',' << meter.y() << ' ' << meter.width() << 'x' << meter.height();
    EXPECT_EQ(button.accessibleName(), u"Recording\u2026 tap to send"_s);
    EXPECT_GT(button.heightForWidth(150), button.heightForWidth(320));
}

TEST(GlyphIcon, EverySymbolIsInTheInstalledFont)
{
    const Glyph all[] = {Glyph::Megaphone,  Glyph::Mic,      Glyph::Stop,        Glyph::Broadcasting,
                         Glyph::PlayCircle, Glyph::Speakers, Glyph::Keyboard,    Glyph::Waveform,
                         Glyph::Info,       Glyph::Refresh,  Glyph::CheckCircle, Glyph::NoNetwork,
                         Glyph::Delete,     Glyph::Shield,   Glyph::Settings,    Glyph::Power,
                         Glyph::Warning};
    for (const Glyph glyph : all)
        EXPECT_TRUE(glyphAvailable(glyph)) << std::hex << int(glyph);
    // Drawn, the tray icon is not empty.
    const QImage tray = trayIcon().pixmap(22, 22).toImage();
    int opaque = 0;
    for (int y = 0; y < tray.height(); ++y)
        for (int x = 0; x < tray.width(); ++x)
            opaque += tray.pixelColor(x, y).alpha() > 128;
    EXPECT_GT(opaque, 22 * 22 / 3);
}

TEST(PanelWindow, PopupSitsAtTheIconInsideTheScreen)
{
    const QRect screen(0, 0, 1000, 800);
    const QRect available(0, 24, 1000, 776); // a top panel of 24 px
    const QSize size(300, 400);
    const std::tuple<const char *, QRect, QPoint> rows[] = {
        {"icon in a top panel: below it, centred", {490, 2, 20, 20}, {350, 26}},
        {"icon in a top-right corner: kept on screen", {975, 2, 20, 20}, {700, 26}},
        {"icon in a bottom panel: above it", {100, 776, 20, 20}, {0, 372}},
        {"pointer in the middle of the screen", {500, 400, 1, 1}, {350, 24}},
    };
    for (const auto &[what, anchor, position] : rows)
        EXPECT_EQ(PanelWindow::popupPosition(size, anchor, screen, available), position) << what;
}
