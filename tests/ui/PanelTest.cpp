// The tray panel over a real broadcaster: every status row, the talk button's
// cycle, the meter, the error line, the delivery lines, saved-message rows,
// keyboard order. What is asserted is what the user reads and can press.
#include "PanelRig.h"

#include "ui/LevelMeter.h"
#include "ui/RowButton.h"
#include "ui/TalkButton.h"

#include <QPushButton>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;
using Kind = Broadcaster::Status::Kind;

namespace {

// What the talk button shows and whether each control takes a tap:
// title, subtitle, tint, glyph, talk button on, meter shown, message rows on.
using Row = std::tuple<QString, QString, IconTone, Glyph, bool, bool, bool>;

Row shownRow(const PanelRig &rig)
{
    const TalkButton *talk = rig.find<TalkButton>("talkButton");
    bool messagesEnabled = true;
    for (const RowButton *row : children<RowButton>(rig.panel.get(), "messageRow"))
        messagesEnabled = messagesEnabled && row->isEnabled();
    return {talk->title(),     talk->subtitle(),           talk->tint(),   talk->glyph(),
            talk->isEnabled(), talk->meter()->isVisible(), messagesEnabled};
}

const QString idleTitle = u"Talk to the house"_s, idleSubtitle = u"Hold Alt+Super+` anywhere, or tap"_s;
const Row idleRow{idleTitle, idleSubtitle, IconTone::Accent, Glyph::Mic, true, false, true};
const Row recordingRow{u"Recording\u2026 tap to send"_s,
                       u"Release the hotkey or tap to broadcast"_s,
                       IconTone::Red,
                       Glyph::Stop,
                       true,
                       true,
                       true};

} // namespace

TEST(Panel, TalkButtonErrorAndDeliveryLinesThroughEveryStatusRow)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    // A player that takes the play command and never answers it.
    FakeSonosPlayer hall(QHostAddress::LocalHost);
    hall.behaviour.insert(u"SetAVTransportURI"_s, FakeSonosPlayer::Behaviour::Hang);
    Speaker silent = sonosSpeaker(hall, u"RINCON_H"_s);
    silent.name = u"Hall"_s;
    rig.saveMessage(u"Dinner"_s, rig.broadcast.clipBytes);
    auto *talk = rig.find<TalkButton>("talkButton");
    auto *summary = rig.find<QLabel>("speakerSummary");
    auto *error = rig.find<QLabel>("errorLine");

    EXPECT_EQ(summary->text(), u"No speakers"_s);
    EXPECT_EQ(shownRow(rig), (Row{idleTitle, idleSubtitle, IconTone::Accent, Glyph::Mic, true, false, false}))
        << "idle, nothing enabled: rows off";
    EXPECT_FALSE(error->isVisible());
    // No speaker enabled: the talk button still records, and the send says why nothing played.
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return error->isVisible(); }));
    EXPECT_EQ(error->text(), u"No speakers selected. Open Settings to choose where to broadcast."_s);
    EXPECT_EQ(rig.broadcast.status().kind, Kind::Idle);
    // Long enough to need two lines at the panel's width: it wraps, nothing is cut.
    settleLayouts();
    EXPECT_GE(error->height(), 2 * error->fontMetrics().height());

    rig.findAndEnable({sonosSpeaker(kitchen, u"RINCON_K"_s), silent});
    EXPECT_EQ(summary->text(), u"2 selected"_s);
    EXPECT_EQ(shownRow(rig), idleRow) << "idle";
    // The next tap clears the error.
    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_FALSE(error->isVisible());
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    EXPECT_EQ(shownRow(rig), recordingRow) << "recording";
    // The meter follows the microphone: -30 dBFS is half way.
    ASSERT_TRUE(waitUntil([&] { return talk->meter()->level() == 0.5f; }));

    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Broadcasting));
    EXPECT_EQ(shownRow(rig), (Row{u"Broadcasting to 2 speakers"_s, u"Playing your message"_s, IconTone::Green,
                                  Glyph::Broadcasting, false, false, false}))
        << "broadcasting";
    // A tap while broadcasting reaches nobody: the button is off.
    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_EQ(rig.broadcast.status().kind, Kind::Broadcasting);

    ASSERT_TRUE(rig.awaitStatus(Kind::Idle));
    EXPECT_EQ(shownRow(rig), idleRow) << "idle again";
    EXPECT_EQ(rig.find<QLabel>("deliveryHeadline")->text(), u"Played in 1 of 2 rooms"_s);
    EXPECT_EQ(rig.find<QLabel>("deliveryMissing")->text(), u"Hall didn't answer"_s);
    EXPECT_TRUE(rig.find("deliveryHeadline")->isVisible());
    EXPECT_TRUE(rig.find("deliveryMissing")->isVisible());
    EXPECT_FALSE(error->isVisible());

    // The next tap starts afresh: the delivery lines go.
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    EXPECT_FALSE(rig.find("deliveryHeadline")->isVisible());
    EXPECT_FALSE(rig.find("deliveryMissing")->isVisible());
    ASSERT_TRUE(rig.broadcast.run(rig.broadcast.broadcaster->stopAndSend({})));
}

TEST(Panel, SavedMessagesPlayWithOneTapAndAnUnreadableOneSaysSo)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    EXPECT_TRUE(rig.find("messagesHint")->isVisible());
    EXPECT_TRUE(children<RowButton>(rig.panel.get(), "messageRow").isEmpty());
    rig.saveMessage(u"Dinner"_s, rig.broadcast.clipBytes);
    rig.saveMessage(u"Notes"_s, "these are not sounds");
    EXPECT_FALSE(rig.find("messagesHint")->isVisible());
    const QList<RowButton *> rows = children<RowButton>(rig.panel.get(), "messageRow");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0)->text(), u"Dinner"_s);
    EXPECT_EQ(rows.at(0)->accessibleName(), u"Play Dinner"_s);
    rig.findAndEnable({sonosSpeaker(kitchen, u"RINCON_K"_s)});
    settleLayouts();

    QTest::mouseClick(rows.at(0), Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Broadcasting));
    ASSERT_TRUE(rig.awaitStatus(Kind::Idle));
    EXPECT_EQ(clipUrls(kitchen).size(), 1);

    // A file in the folder that is not audio: the broadcaster says so, nothing plays.
    QTest::mouseClick(rows.at(1), Qt::LeftButton);
    auto *error = rig.find<QLabel>("errorLine");
    ASSERT_TRUE(waitUntil([&] { return error->isVisible(); }));
    EXPECT_EQ(error->text(), u"Couldn't read the length of this message."_s);
    EXPECT_EQ(clipUrls(kitchen).size(), 1);
    // A tap on a row clears the error like the talk button does.
    QTest::mouseClick(rows.at(0), Qt::LeftButton);
    EXPECT_FALSE(error->isVisible());
    ASSERT_TRUE(rig.awaitStatus(Kind::Idle));
}

TEST(Panel, ChordAndKeyboardOrder)
{
    PanelRig rig;
    rig.saveMessage(u"Dinner"_s, "x");
    rig.broadcast.preferences.setHotkey({49, HotkeyConfig::Control | HotkeyConfig::Option});
    rig.panel->hide();
    rig.panel->show(); // the panel opens anew: the stored chord is read again
    EXPECT_EQ(rig.find<TalkButton>("talkButton")->subtitle(), u"Hold Ctrl+Alt+Space anywhere, or tap"_s);

    // Tab walks the controls in the order they are seen.
    QStringList order;
    QWidget *widget = rig.find<TalkButton>("talkButton");
    for (int i = 0; i < 4; ++i) {
        order << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || !rig.panel->isAncestorOf(widget));
    }
    EXPECT_EQ(order, (QStringList{u"talkButton"_s, u"messageRow"_s, u"settingsButton"_s, u"quitButton"_s}));
    EXPECT_EQ(rig.find<QPushButton>("settingsButton")->text(), u"Settings\u2026"_s);
    EXPECT_EQ(rig.find<QPushButton>("quitButton")->text(), u"Quit"_s);
}
