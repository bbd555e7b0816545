#include "model/Preferences.h"

#include <QDir>
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
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray readFile() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void expectDefaults() const
    {
        auto preferences = open();
        EXPECT_EQ(preferences->hotkey(), (HotkeyConfig{50, 2304}));
        EXPECT_EQ(preferences->announcementVolume(), 35);
        EXPECT_TRUE(preferences->restoreAfterClip());
        EXPECT_FALSE(preferences->readStringList(Preferences::EnabledSpeakerIDsKey));
    }

    QTemporaryDir m_dir;
};
} // namespace

TEST_F(PreferencesTest, WrittenValuesSurviveANewStoreObject)
{
    expectDefaults();
    {
        auto preferences = open();
        preferences->setHotkey(HotkeyConfig{105, 0x1200});
        preferences->setAnnouncementVolume(0); // 0 is a value, not "absent"
        preferences->setRestoreAfterClip(false);
    }
    auto preferences = open();
    EXPECT_EQ(preferences->hotkey(), (HotkeyConfig{105, 0x1200}));
    EXPECT_EQ(preferences->announcementVolume(), 0);
    EXPECT_FALSE(preferences->restoreAfterClip());

    // The INI format writes lists of one element, and commas inside ids, specially.
    for (const QStringList &ids : {QStringList{}, QStringList{QStringLiteral("sonos:A")},
                                   QStringList{QStringLiteral("cast:Living Room, TV"), QString()}}) {
        open()->write(Preferences::EnabledSpeakerIDsKey, ids);
        EXPECT_EQ(open()->readStringList(Preferences::EnabledSpeakerIDsKey).value_or(QStringList{}), ids);
    }
}

TEST_F(PreferencesTest, ValuesOfAnotherTypeReadAsDefaultsAndAreNotRewritten)
{
    const QByteArray files[] = {
        "[General]\nhotkey=ctrl+alt\nannouncementVolume=loud\nrestoreAfterClip=maybe\n"
        "enabledSpeakerIDs=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n",
        "[General]\nannouncementVolume=99999999999\n", QByteArray(4096, '\x9c'), // garbage
    };
    for (const QByteArray &contents : files) {
        writeFile(contents);
        expectDefaults();
        EXPECT_EQ(readFile(), contents);
    }
    open()->write(Preferences::HotkeyKey, QByteArray("{\"keyCode\":50}"));
    EXPECT_EQ(open()->hotkey(), HotkeyConfig{});
}

TEST_F(PreferencesTest, AnUnreadableFileGivesDefaults)
{
    // A folder where the file should be cannot be read even by root.
    ASSERT_TRUE(QDir().mkpath(path()));
    expectDefaults();
}

TEST(SharedPreferencesTest, LivesInTheTestsOwnConfigFolder)
{
    Preferences::shared().setAnnouncementVolume(60);
    const QString file = Preferences::shared().defaults().fileName();
    EXPECT_TRUE(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME"))) << file.toStdString();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(Preferences::shared().announcementVolume(), 60);
}
