// The settings window's Speakers, Hotkey and About tabs, driven through their
// widgets with a store over fake discoveries and a hotkey manager over a key
// source the test types into.
#include "UiTestSupport.h"

#include "ui/AboutTab.h"
#include "ui/BusySpinner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSlider>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

using Rig = SettingsRig;

QStringList toggleNames(const QWidget *tab)
{
    QStringList names;
    for (const QCheckBox *toggle : children<QCheckBox>(tab, "speakerToggle"))
        names << toggle->text() + (toggle->isChecked() ? u" [on]"_s : u""_s);
    return names;
}

} // namespace

TEST(SettingsWindow, OpensOnTheFirstOfFourTabs)
{
    Rig rig;
    rig.window->open();
    QTabWidget *tabs = rig.window->tabs();
    ASSERT_EQ(tabs->count(), 4);
    QStringList labels;
    for (int i = 0; i < tabs->count(); ++i)
        labels << tabs->tabText(i);
    EXPECT_EQ(labels, (QStringList{u"Speakers"_s, u"Hotkey"_s, u"Messages"_s, u"About"_s}));
    EXPECT_EQ(tabs->currentIndex(), 0);
    // Opening it again while it is open keeps the user's tab; after closing it starts over.
    rig.selectTab(2);
    rig.window->open();
    EXPECT_EQ(tabs->currentIndex(), 2);
    rig.window->close();
    rig.window->open();
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST(SpeakersTab, ScansWhenEmptyShowsSectionsAndTheEmptyState)
{
    Rig rig;
    rig.network.held = true;
    rig.window->open(); // the tab appears with no speakers known: one scan
    EXPECT_EQ(rig.network.scans, 1);
    auto *rescan = child<QPushButton>(rig.window.get(), "rescanButton");
    auto *spinner = child<BusySpinner>(rig.window.get(), "rescanSpinner");
    EXPECT_FALSE(rescan->isEnabled());
    EXPECT_TRUE(spinner->isVisible());
    rig.network.release();
    ASSERT_TRUE(rig.awaitScanEnd());
    EXPECT_TRUE(rescan->isEnabled());
    EXPECT_EQ(rescan->text(), u"Rescan"_s);
    EXPECT_FALSE(spinner->isVisible());

    // Nothing found: the empty state with its hint.
    EXPECT_TRUE(child(rig.window.get(), "speakersEmptyState")->isVisible());
    EXPECT_EQ(
        child<QLabel>(rig.window.get(), "speakersEmptyHint")->text(),
        u"Make sure Pealix is on the same network as your speakers. A firewall must let in replies on UDP "
        u"port 1900 (Sonos) and mDNS on 5353 (Cast) \u2014 then Rescan."_s);

    // Only Cast devices: the Sonos section says "None found".
    rig.network.cast = {castSpeaker(u"b"_s, u"Living Room TV"_s, u"10.0.0.7"_s),
                        castSpeaker(u"a"_s, u"Kitchen Nest"_s)};
    QTest::mouseClick(rescan, Qt::LeftButton);
    ASSERT_TRUE(rig.awaitScanEnd());
    EXPECT_FALSE(child(rig.window.get(), "speakersEmptyState")->isVisible());
    EXPECT_EQ(visibleTexts(rig.window.get(), "sectionHeading"),
              (QStringList{u"Sonos"_s, u"Chromecast / Nest"_s}));
    EXPECT_EQ(visibleTexts(rig.window.get(), "noneFound"), QStringList{u"None found"_s});
    EXPECT_EQ(toggleNames(rig.window.get()), (QStringList{u"Kitchen Nest"_s, u"Living Room TV"_s}));
    EXPECT_EQ(visibleTexts(rig.window.get(), "speakerHost"), (QStringList{u"127.0.0.1"_s, u"10.0.0.7"_s}));

    // Both kinds: no "None found"; a rescan while speakers show keeps them and spins.
    rig.network.sonos = {sonosSpeaker(u"RINCON_1"_s, u"Bathroom"_s)};
    rig.network.held = true;
    QTest::mouseClick(rescan, Qt::LeftButton);
    EXPECT_FALSE(rescan->isEnabled());
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_EQ(toggleNames(rig.window.get()).size(), 2);
    rig.network.release();
    ASSERT_TRUE(rig.awaitScanEnd());
    EXPECT_TRUE(visibleTexts(rig.window.get(), "noneFound").isEmpty());
    EXPECT_EQ(toggleNames(rig.window.get()),
              (QStringList{u"Bathroom"_s, u"Kitchen Nest"_s, u"Living Room TV"_s}));

    // Appearing again with speakers known starts no scan.
    rig.window->close();
    rig.window->open();
    EXPECT_EQ(rig.network.scans, 3);
}

TEST(SpeakersTab, TogglesSaveTheChoiceAtOnce)
{
    Rig rig;
    rig.network.sonos = {sonosSpeaker(u"RINCON_1"_s, u"Kitchen"_s), sonosSpeaker(u"RINCON_2"_s, u"Den"_s)};
    rig.window->open();
    ASSERT_TRUE(rig.awaitScanEnd());
    ASSERT_EQ(toggleNames(rig.window.get()), (QStringList{u"Den"_s, u"Kitchen"_s}));
    QCheckBox *kitchen = children<QCheckBox>(rig.window.get(), "speakerToggle").at(1);
    settleLayouts();
    QTest::mouseClick(kitchen, Qt::LeftButton);
    EXPECT_EQ(rig.prefs.preferences.readStringList(Preferences::EnabledSpeakerIDsKey),
              QStringList{u"sonos:RINCON_1"_s});
    EXPECT_EQ(toggleNames(rig.window.get()), (QStringList{u"Den"_s, u"Kitchen [on]"_s}));
    QTest::mouseClick(kitchen, Qt::LeftButton);
    EXPECT_EQ(rig.prefs.preferences.readStringList(Preferences::EnabledSpeakerIDsKey), QStringList{});
    EXPECT_FALSE(rig.store.isEnabled(u"sonos:RINCON_1"_s));
}

TEST(SpeakersTab, SliderEndsAndResumeToggleWriteThePreferences)
{
    Rig rig;
    rig.window->open();
    auto *slider = child<QSlider>(rig.window.get(), "volumeSlider");
    auto *text = child<QLabel>(rig.window.get(), "volumeText");
    auto *restore = child<QCheckBox>(rig.window.get(), "restoreToggle");
    // Nothing stored: the defaults.
    EXPECT_EQ(slider->value(), 35);
    EXPECT_EQ(text->text(), u"35%"_s);
    EXPECT_TRUE(restore->isChecked());

    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(rig.prefs.preferences.readInteger(Preferences::AnnouncementVolumeKey), 0);
    EXPECT_EQ(text->text(), u"Keep"_s);
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(rig.prefs.preferences.readInteger(Preferences::AnnouncementVolumeKey), 100);
    EXPECT_EQ(text->text(), u"100%"_s);

    QTest::mouseClick(restore, Qt::LeftButton);
    EXPECT_EQ(rig.prefs.preferences.readBool(Preferences::RestoreAfterClipKey), false);
    EXPECT_FALSE(restore->isChecked());
}

TEST(HotkeyTab, EditsShowLiveSaveRestartsTheManagerAndLeavingDropsThem)
{
    Rig rig;
    rig.window->open();
    rig.selectTab(1);
    auto *current = child<QLabel>(rig.window.get(), "currentChord");
    auto *picker = child<QComboBox>(rig.window.get(), "keyPicker");
    auto *ctrl = child<QCheckBox>(rig.window.get(), "ctrlBox");
    auto *alt = child<QCheckBox>(rig.window.get(), "altBox");
    auto *shift = child<QCheckBox>(rig.window.get(), "shiftBox");
    auto *super = child<QCheckBox>(rig.window.get(), "superBox");
    EXPECT_EQ(QStringList({ctrl->text(), alt->text(), shift->text(), super->text()}),
              (QStringList{u"Ctrl"_s, u"Alt"_s, u"Shift"_s, u"Super"_s}));
    // Nothing stored: Alt and Super with the grave key.
    EXPECT_EQ(QList<bool>({ctrl->isChecked(), alt->isChecked(), shift->isChecked(), super->isChecked()}),
              (QList<bool>{false, true, false, true}));
    EXPECT_EQ(picker->currentText(), u"` (Grave)"_s);
    EXPECT_EQ(current->text(), u"Alt+Super+`"_s);

    QTest::mouseClick(ctrl, Qt::LeftButton);
    QTest::mouseClick(shift, Qt::LeftButton);
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_Down); // "Space"
    EXPECT_EQ(current->text(), u"Ctrl+Alt+Shift+Super+Space"_s);
    // Nothing is stored or restarted before Save.
    EXPECT_EQ(rig.prefs.preferences.hotkey(), HotkeyConfig::defaultChord());
    EXPECT_EQ(rig.keys->starts, 1);

    QTest::mouseClick(child<QPushButton>(rig.window.get(), "saveHotkeyButton"), Qt::LeftButton);
    const HotkeyConfig all{49, 0x1B00};
    EXPECT_EQ(rig.prefs.preferences.hotkey(), all);
    EXPECT_EQ(rig.keys->starts, 2);
    // The running manager now answers to the new chord and not to the old one.
    rig.keys->type(50, HotkeyConfig::defaultChord().modifiers, true);
    EXPECT_EQ(rig.presses, 0);
    rig.keys->type(49, 0x1B00, true);
    EXPECT_EQ(rig.presses, 1);

    // Unsaved: switching away and back loads the stored chord again.
    QTest::mouseClick(alt, Qt::LeftButton);
    rig.selectTab(2);
    rig.selectTab(1);
    EXPECT_TRUE(alt->isChecked());
    EXPECT_EQ(current->text(), u"Ctrl+Alt+Shift+Super+Space"_s);
    EXPECT_EQ(rig.keys->starts, 2);

    // No modifiers at all, saved with Return from a check box.
    for (QCheckBox *box : {ctrl, alt, shift, super})
        QTest::mouseClick(box, Qt::LeftButton);
    super->setFocus();
    QTest::keyClick(super, Qt::Key_Return);
    EXPECT_EQ(rig.prefs.preferences.hotkey(), (HotkeyConfig{49, 0}));
    EXPECT_EQ(rig.keys->starts, 3);
}

TEST(HotkeyTab, KeepsAStoredKeyThatIsNotInTheList)
{
    Rig rig;
    rig.prefs.preferences.setHotkey({36, HotkeyConfig::Control});
    rig.window->open();
    rig.selectTab(1);
    EXPECT_EQ(child<QComboBox>(rig.window.get(), "keyPicker")->currentIndex(), -1);
    EXPECT_EQ(child<QLabel>(rig.window.get(), "currentChord")->text(), u"Ctrl+Key 36"_s);
    QTest::mouseClick(child<QPushButton>(rig.window.get(), "saveHotkeyButton"), Qt::LeftButton);
    EXPECT_EQ(rig.prefs.preferences.hotkey(), (HotkeyConfig{36, HotkeyConfig::Control}));
}

TEST(HotkeyTab, NoteSaysWhatTheDesktopAllows)
{
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    const QString everywhere = u"Pealix sees the hotkey in every application."_s;
    const struct
    {
        const char *situation;
        QString failure, waiting;
    } rows[] = {
        {"watching (not X11 here, offscreen: the general wording)", {}, {}},
        {"the desktop refuses", u"This desktop doesn't let applications watch a global hotkey."_s, {}},
        {"the desktop is asked, and says yes while the tab is open",
         {},
         u"Waiting for the desktop to allow the hotkey."_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        auto *keys = new ScriptedKeySource;
        keys->failure = row.failure;
        keys->waiting = row.waiting;
        Rig rig(keys);
        rig.window->open();
        rig.selectTab(1);
        auto *note = child<QLabel>(rig.window.get(), "monitoringNote");
        const QString problem = row.failure + row.waiting;
        EXPECT_EQ(note->text(), problem.isEmpty() ? everywhere : problem);
        if (!row.waiting.isEmpty()) {
            keys->grant();
            EXPECT_EQ(note->text(), everywhere);
        }
    }
}

TEST(AboutTab, LinksLeadToSectionsThatExist)
{
    AboutTab tab;
    for (const QUrl &url : {AboutTab::supportUrl(), AboutTab::privacyUrl()}) {
        ASSERT_TRUE(url.isValid());
        ASSERT_FALSE(url.isRelative()) << url.toString().toStdString();
        if (!url.isLocalFile())
            continue; // an address the build was given
        QFile readme(url.toLocalFile());
        ASSERT_TRUE(readme.open(QIODevice::ReadOnly)) << url.toString().toStdString();
        // GitHub-style anchors: "## Support" is #support.
        const QByteArray heading = "\n## " + url.fragment().toUtf8();
        EXPECT_TRUE(readme.readAll().toLower().contains(heading)) << url.toString().toStdString();
    }
    EXPECT_EQ(child<QLabel>(&tab, "supportLink")->accessibleName(), u"Support & FAQ"_s);
    EXPECT_EQ(child<QLabel>(&tab, "privacyLink")->accessibleName(), u"Privacy Policy"_s);
}
