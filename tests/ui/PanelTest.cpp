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

struct Row
{
    QString title, subtitle;
    IconTone tint;
    Glyph glyph;
    bool talkEnabled, meterShown, messagesEnabled;
};

Row shownRow(const PanelRig &rig)
{
    const TalkButton *talk = rig.find<TalkButton>("talkButton");
    bool messagesEnabled = true;
    for (const RowButton *row : children<RowButton>(rig.panel.get(), "messageRow"))
        messagesEnabled = messagesEnabled && row->isEnabled();
    return {talk->title(),     talk->subtitle(),           talk->tint(),   talk->glyph(),
            talk->isEnabled(), talk->meter()->isVisible(), messagesEnabled};
}

void expectRow(const PanelRig &rig, const Row &expected, const char *situation)
{
    const Row shown = shownRow(rig);
    EXPECT_EQ(shown.title, expected.title) << situation;
    EXPECT_EQ(shown.subtitle, expected.subtitle) << situation;
    EXPECT_EQ(shown.tint, expected.tint) << situation;
    EXPECT_EQ(shown.glyph, expected.glyph) << situation;
    EXPECT_EQ(shown.talkEnabled, expected.talkEnabled) << situation;
    EXPECT_EQ(shown.meterShown, expected.meterShown) << situation;
    EXPECT_EQ(shown.messagesEnabled, expected.messagesEnabled) << situation;
}

void saveMessage(PanelRig &rig, const QString &title, const QByteArray &bytes)
{
    QFile file(rig.messagesDir.filePath(title + u".m4a"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    rig.messages.reload();
}

const Row idleRow{u"Talk to the house"_s,
                  u"Hold Alt+Super+` anywhere, or tap"_s,
                  IconTone::Accent,
                  Glyph::Mic,
                  true,
                  false,
                  true};
const Row recordingRow{u"Recording\u2026 tap to send"_s,
                       u"Release the hotkey or tap to broadcast"_s,
                       IconTone::Red,
                       Glyph::Stop,
                       true,
                       true,
                       true};

} // namespace

TEST(Panel, TalkButtonCyclesThroughEveryStatusRow)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    saveMessage(rig, u"Dinner"_s, rig.broadcast.clipBytes);
    auto *talk = rig.find<TalkButton>("talkButton");
    auto *summary = rig.find<QLabel>("speakerSummary");

    EXPECT_EQ(summary->text(), u"No speakers"_s);
    expectRow(rig, {idleRow.title, idleRow.subtitle, IconTone::Accent, Glyph::Mic, true, false, false},
              "idle, nothing enabled: rows off");
    rig.findAndEnable({sonosSpeaker(kitchen, u"RINCON_K"_s)});
    EXPECT_EQ(summary->text(), u"1 selected"_s);
    expectRow(rig, idleRow, "idle");

    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    expectRow(rig, recordingRow, "recording");
    // The meter follows the microphone: -30 dBFS is half way, silence a sliver.
    auto *meter = talk->meter();
    ASSERT_TRUE(waitUntil([&] { return meter->level() == 0.5f; }));
    rig.broadcast.recorder->power = -90;
    ASSERT_TRUE(waitUntil([&] { return meter->level() == 0.0f; }));
    EXPECT_EQ(meter->fillWidth(), 2);
    EXPECT_EQ(meter->geometry(), QRect(10, talk->height() - 9, talk->width() - 20, 3));

    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Broadcasting));
    expectRow(rig,
              {u"Broadcasting to 1 speaker"_s, u"Playing your message"_s, IconTone::Green,
               Glyph::Broadcasting, false, false, false},
              "broadcasting");
    // A tap while broadcasting reaches nobody: the button is off.
    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_EQ(rig.broadcast.status().kind, Kind::Broadcasting);

    ASSERT_TRUE(rig.awaitStatus(Kind::Idle));
    expectRow(rig, idleRow, "idle again");
    EXPECT_EQ(rig.find<QLabel>("deliveryHeadline")->text(), u"Played in 1 of 1 room"_s);
    EXPECT_TRUE(rig.find("deliveryHeadline")->isVisible());
    EXPECT_FALSE(rig.find("deliveryMissing")->isVisible());
    EXPECT_FALSE(rig.find("errorLine")->isVisible());

    // The next tap starts afresh: the delivery lines go.
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    EXPECT_FALSE(rig.find("deliveryHeadline")->isVisible());
    ASSERT_TRUE(rig.broadcast.run(rig.broadcast.broadcaster->stopAndSend({})));
}

TEST(Panel, ErrorLineWrapsAndTheNextTapClearsIt)
{
    PanelRig rig;
    auto *talk = rig.find<TalkButton>("talkButton");
    auto *error = rig.find<QLabel>("errorLine");
    EXPECT_FALSE(error->isVisible());
    // No speaker enabled: the talk button still records, and the send says why nothing played.
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    QTest::mouseClick(talk, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return error->isVisible(); }));
    EXPECT_EQ(error->text(), u"No speakers selected. Open Settings to choose where to broadcast."_s);
    EXPECT_EQ(rig.broadcast.status().kind, Kind::Idle);
    // Long enough to need two lines at the panel's width: it wraps, nothing is cut.
    EXPECT_TRUE(error->wordWrap());
    settleLayouts();
    EXPECT_GE(error->height(), 2 * error->fontMetrics().height());

    QTest::mouseClick(talk, Qt::LeftButton);
    EXPECT_FALSE(error->isVisible());
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    ASSERT_TRUE(rig.broadcast.run(rig.broadcast.broadcaster->stopAndSend({})));
}

TEST(Panel, DeliveryLinesNameTheRoomsThatDidNotPlay)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    // A player that takes the play command and never answers it.
    FakeSonosPlayer hall(QHostAddress::LocalHost);
    hall.behaviour.insert(u"SetAVTransportURI"_s, FakeSonosPlayer::Behaviour::Hang);
    Speaker silent = sonosSpeaker(hall, u"RINCON_H"_s);
    silent.name = u"Hall"_s;
    rig.findAndEnable({sonosSpeaker(kitchen, u"RINCON_K"_s), silent});
    QTest::mouseClick(rig.find<TalkButton>("talkButton"), Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Recording));
    QTest::mouseClick(rig.find<TalkButton>("talkButton"), Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Broadcasting));
    ASSERT_TRUE(rig.awaitStatus(Kind::Idle));
    EXPECT_EQ(rig.find<QLabel>("deliveryHeadline")->text(), u"Played in 1 of 2 rooms"_s);
    EXPECT_EQ(rig.find<QLabel>("deliveryMissing")->text(), u"Hall didn't answer"_s);
    EXPECT_TRUE(rig.find("deliveryMissing")->isVisible());
}

TEST(Panel, SavedMessagesPlayWithOneTapAndAnUnreadableOneSaysSo)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    EXPECT_TRUE(rig.find("messagesHint")->isVisible());
    EXPECT_TRUE(children<RowButton>(rig.panel.get(), "messageRow").isEmpty());
    saveMessage(rig, u"Dinner"_s, rig.broadcast.clipBytes);
    saveMessage(rig, u"Notes"_s, "these are not sounds");
    EXPECT_FALSE(rig.find("messagesHint")->isVisible());
    const QList<RowButton *> rows = children<RowButton>(rig.panel.get(), "messageRow");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0)->text(), u"Dinner"_s);
    EXPECT_EQ(rows.at(0)->accessibleName(), u"Play Dinner"_s);
    rig.findAndEnable({sonosSpeaker(kitchen, u"RINCON_K"_s)});
    settleLayouts();

    QTest::mouseClick(rows.at(0), Qt::LeftButton);
    ASSERT_TRUE(rig.awaitStatus(Kind::Broadcasting));
    EXPECT_EQ(rig.find<TalkButton>("talkButton")->title(), u"Broadcasting to 1 speaker"_s);
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
    saveMessage(rig, u"Dinner"_s, "x");
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
    EXPECT_FALSE(rig.find<TalkButton>("talkButton")->accessibleName().isEmpty());
}
