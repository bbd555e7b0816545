// Writes pictures of the panel and of every settings tab, on a light and on a
// dark desktop palette, to the folder named by PEALIX_SCREENSHOT_DIR (the
// build's screenshots/ folder). They are for people to look at; the test only
// checks that each one shows something.
#include "PanelRig.h"

#include "ui/LevelMeter.h"
#include "ui/TalkButton.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

QPalette darkPalette()
{
    QPalette dark;
    const QColor window(0x2b, 0x2d, 0x31), base(0x1e, 0x1f, 0x22), text(0xe8, 0xe8, 0xea);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3c, 0x41));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
    dark.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8c, 0x91));
    dark.setColor(QPalette::Mid, QColor(0x45, 0x47, 0x4c));
    dark.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    dark.setColor(QPalette::Light, QColor(0x50, 0x52, 0x57));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x7a, 0x7c, 0x80));
    return dark;
}

struct Theme
{
    const char *name;
    QPalette palette;
};

QList<Theme> themes()
{
    QStyle *fusion = QStyleFactory::create(u"Fusion"_s);
    QApplication::setStyle(fusion);
    return {{"light", fusion->standardPalette()}, {"dark", darkPalette()}};
}

// Saves the picture and says whether it shows more than a blank surface.
void capture(QWidget *widget, const QString &name)
{
    const QString folder =
        qEnvironmentVariable("PEALIX_SCREENSHOT_DIR", QDir::currentPath() + u"/screenshots"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QImage image = widget->grab().toImage();
    ASSERT_FALSE(image.isNull()) << name.toStdString();
    ASSERT_TRUE(image.save(QDir(folder).filePath(name + u".png"_s))) << name.toStdString();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    // Text on a surface: antialiasing alone gives dozens of shades.
    EXPECT_GT(colours.size(), 20) << name.toStdString() << " looks blank";
}

} // namespace

TEST(Screenshots, SettingsTabs)
{
    for (const Theme &theme : themes()) {
        QApplication::setPalette(theme.palette);
        SettingsRig rig;
        rig.network.sonos = {sonosSpeaker(u"RINCON_1"_s, u"Kitchen"_s, u"192.168.1.20"_s),
                             sonosSpeaker(u"RINCON_2"_s, u"Living Room"_s, u"192.168.1.21"_s)};
        rig.network.cast = {castSpeaker(u"tv"_s, u"Living Room TV"_s, u"192.168.1.30"_s)};
        for (const char *title : {"Dinner is ready", "Time for school"}) {
            QFile file(rig.messagesDir.filePath(QString::fromUtf8(title) + u".m4a"_s));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        rig.messages.reload();
        SettingsWindow &window = *rig.window;
        window.open();
        ASSERT_TRUE(rig.awaitScanEnd());
        rig.store.toggle(u"sonos:RINCON_1"_s);
        rig.store.toggle(u"cast:tv"_s);
        const QString suffix = u"-"_s + QLatin1String(theme.name);
        const char *names[] = {"settings-speakers", "settings-hotkey", "settings-messages", "settings-about"};
        for (int i = 0; i < 4; ++i) {
            window.tabs()->setCurrentIndex(i);
            settleLayouts();
            capture(&window, QLatin1String(names[i]) + suffix);
        }
        // The Speakers tab with nothing found.
        rig.network.sonos.clear();
        rig.network.cast.clear();
        window.tabs()->setCurrentIndex(0);
        QCoro::waitFor(rig.store.scan());
        settleLayouts();
        capture(&window, u"settings-speakers-empty"_s + suffix);
    }
}

TEST(Screenshots, PanelInEachState)
{
    for (const Theme &theme : themes()) {
        QApplication::setPalette(theme.palette);
        const QString suffix = u"-"_s + QLatin1String(theme.name);
        PanelRig rig;
        FakeSonosPlayer kitchen(QHostAddress::LocalHost), hall(QHostAddress::LocalHost);
        hall.behaviour.insert(u"SetAVTransportURI"_s, FakeSonosPlayer::Behaviour::Hang);
        Speaker kitchenSpeaker = sonosSpeaker(kitchen, u"RINCON_K"_s),
                hallSpeaker = sonosSpeaker(hall, u"RINCON_H"_s);
        kitchenSpeaker.name = u"Kitchen"_s;
        hallSpeaker.name = u"Hall"_s;
        for (const QString &title : {u"Dinner is ready"_s, u"Time for school"_s})
            rig.saveMessage(title, rig.broadcast.clipBytes);
        auto *talk = rig.find<TalkButton>("talkButton");
        // As the panel's window does: exactly the size its content asks for.
        const auto shoot = [&](const QString &name) {
            settleLayouts();
            rig.panel->adjustSize();
            capture(rig.panel.get(), name + suffix);
        };

        // Error: the talk button with nobody to hear it.
        QTest::mouseClick(talk, Qt::LeftButton);
        ASSERT_TRUE(rig.awaitStatus(Broadcaster::Status::Kind::Recording));
        QTest::mouseClick(talk, Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !rig.broadcast.broadcaster->lastError().isNull(); }));
        shoot(u"panel-error"_s);

        rig.findAndEnable({kitchenSpeaker, hallSpeaker});
        QTest::mouseClick(talk, Qt::LeftButton); // clears the error
        ASSERT_TRUE(rig.awaitStatus(Broadcaster::Status::Kind::Recording));
        rig.broadcast.recorder->power = -12;
        ASSERT_TRUE(waitUntil([&] { return talk->meter()->level() > 0.5f; }));
        shoot(u"panel-recording"_s);
        QTest::mouseClick(talk, Qt::LeftButton);
        ASSERT_TRUE(rig.awaitStatus(Broadcaster::Status::Kind::Broadcasting));
        shoot(u"panel-broadcasting"_s);
        ASSERT_TRUE(rig.awaitStatus(Broadcaster::Status::Kind::Idle));
        shoot(u"panel-deliveries"_s);
        rig.broadcast.broadcaster->clearDeliveries();
        shoot(u"panel-idle"_s);
    }
}
