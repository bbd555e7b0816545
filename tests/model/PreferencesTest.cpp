#include "model/Preferences.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pealix;

namespace {
class PreferencesTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("Pealix.conf")); }

    std::unique_ptr<Preferences> open() const
    {
        return std::make_unique<Preferences>(std::make_unique<QSettings>(path(), QSettings::IniFormat));
    }

    void writeFile(const QByteArray &bytes) const
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readFile() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};
} // namespace

TEST_F(PreferencesTest, AnEmptyStoreGivesTheDefaults)
{
    auto preferences = open();
    EXPECT_EQ(preferences->hotkey(), (HotkeyConfig{50, 2304}));
    EXPECT_EQ(preferences->announcementVolume(), 35);
    EXPECT_TRUE(preferences->restoreAfterClip());
    EXPECT_FALSE(preferences->readStringList(Preferences::EnabledSpeakerIDsKey));
}

TEST_F(PreferencesTest, WrittenValuesSurviveANewStoreObject)
{
    {
        auto preferences = open();
        preferences->setHotkey(HotkeyConfig{105, 0x1200});
        preferences->setAnnouncementVolume(0); // 0 is a value, not "absent"
        preferences->setRestoreAfterClip(false);
        preferences->write(Preferences::EnabledSpeakerIDsKey,
                           QStringList{QStringLiteral("cast:Living Room, TV"), QStringLiteral("sonos:X")});
    }
    auto preferences = open();
    EXPECT_EQ(preferences->hotkey(), (HotkeyConfig{105, 0x1200}));
    EXPECT_EQ(preferences->announcementVolume(), 0);
    EXPECT_FALSE(preferences->restoreAfterClip());
    EXPECT_EQ(preferences->readStringList(Preferences::EnabledSpeakerIDsKey),
              (QStringList{QStringLiteral("cast:Living Room, TV"), QStringLiteral("sonos:X")}));
}

TEST_F(PreferencesTest, StringListsOfAnyLengthRoundTrip)
{
    for (const QStringList &ids : {QStringList{}, QStringList{QStringLiteral("sonos:A")},
                                   QStringList{QStringLiteral("a,b"), QStringLiteral("")}}) {
        open()->write(Preferences::EnabledSpeakerIDsKey, ids);
        EXPECT_EQ(open()->readStringList(Preferences::EnabledSpeakerIDsKey).value_or(QStringList{}), ids);
    }
}

TEST_F(PreferencesTest, ValuesOfAnotherTypeReadAsDefaultsAndAreNotRewritten)
{
    const QByteArray contents = "[General]\n"
                                "hotkey=ctrl+alt\n"
                                "announcementVolume=loud\n"
                                "restoreAfterClip=maybe\n"
                                "enabledSpeakerIDs=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n";
    writeFile(contents);
    {
        auto preferences = open();
        EXPECT_EQ(preferences->hotkey(), HotkeyConfig{});
        EXPECT_EQ(preferences->announcementVolume(), 35);
        EXPECT_TRUE(preferences->restoreAfterClip());
        EXPECT_FALSE(preferences->readStringList(Preferences::EnabledSpeakerIDsKey));
    }
    EXPECT_EQ(readFile(), contents);
}

TEST_F(PreferencesTest, BadChordDataReadsAsTheDefaultChord)
{
    for (const QByteArray &data : {QByteArray("{\"keyCode\":50}"), QByteArray("\xff\xfe garbage"),
                                   QByteArray("{\"keyCode\":-3,\"modifiers\":256}")}) {
        open()->write(Preferences::HotkeyKey, data);
        EXPECT_EQ(open()->hotkey(), HotkeyConfig{}) << data.constData();
    }
}

TEST_F(PreferencesTest, AVolumeTooLargeForAnIntegerReadsAsTheDefault)
{
    writeFile("[General]\nannouncementVolume=99999999999\n");
    EXPECT_EQ(open()->announcementVolume(), 35);
    writeFile("[General]\nannouncementVolume=-5\n");
    EXPECT_EQ(open()->announcementVolume(), -5); // clamping belongs to the player side
}

TEST_F(PreferencesTest, AGarbageOrUnreadableFileGivesDefaults)
{
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 131 + 7) % 256);
    writeFile(garbage);
    EXPECT_EQ(open()->announcementVolume(), 35);
    EXPECT_EQ(readFile(), garbage);

    // A folder where the file should be cannot be read even by root.
    QFile::remove(path());
    ASSERT_TRUE(QDir().mkpath(path()));
    auto preferences = open();
    EXPECT_EQ(preferences->hotkey(), HotkeyConfig{});
    EXPECT_TRUE(preferences->restoreAfterClip());
}

TEST(SharedPreferencesTest, LivesInTheTestsOwnConfigFolder)
{
    Preferences::shared().setAnnouncementVolume(60);
    const QString file = Preferences::shared().defaults().fileName();
    EXPECT_TRUE(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME"))) << file.toStdString();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(Preferences::shared().announcementVolume(), 60);
}
