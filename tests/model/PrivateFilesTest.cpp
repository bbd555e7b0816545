// Saved messages and settings are the user's alone, whatever the umask.
#include "model/MessageStore.h"
#include "model/Preferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

// The permission bits of `path`, or -1 when it does not exist.
int modeOf(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

class PrivateFilesTest : public ::testing::Test
{
protected:
    void SetUp() override { m_previousUmask = ::umask(022); }
    void TearDown() override { ::umask(m_previousUmask); }

    mode_t m_previousUmask = 0;
    QTemporaryDir m_dir;
};

TEST_F(PrivateFilesTest, ASavedMessageAndItsFoldersAreTheUsersAlone)
{
    // Folders that do not exist yet, as on a first start.
    const QString folder = m_dir.filePath(u"share/Pealix/Messages"_s);
    QFile clip(m_dir.filePath(u"clip.m4a"_s));
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly) && clip.write("clip bytes") == 10);
    clip.close();

    MessageStore store(folder);
    store.save(clip.fileName(), u"Dinner"_s);
    ASSERT_EQ(store.messages().size(), 1);
    EXPECT_EQ(modeOf(store.messages().first().url.toLocalFile()), 0600);
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(m_dir.filePath(u"share/Pealix"_s)), 0700);
    EXPECT_EQ(modeOf(m_dir.filePath(u"share"_s)), 0700);

    // A folder left open by an earlier version is closed up too.
    const QString earlier = m_dir.filePath(u"earlier"_s);
    ASSERT_TRUE(QDir().mkdir(earlier));
    ASSERT_EQ(modeOf(earlier), 0755);
    MessageStore reopened(earlier);
    EXPECT_EQ(modeOf(earlier), 0700);
}

TEST_F(PrivateFilesTest, TheSettingsFileAndItsFolderAreTheUsersAlone)
{
    const QString path = m_dir.filePath(u"config/Pealix/Pealix.conf"_s);
    {
        Preferences preferences(std::make_unique<QSettings>(path, QSettings::IniFormat));
        preferences.setAnnouncementVolume(20);
    }
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(m_dir.filePath(u"config/Pealix"_s)), 0700);

    // A file an earlier version left readable is closed up at the next change, and keeps its settings.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions(0x6644)));
    Preferences preferences(std::make_unique<QSettings>(path, QSettings::IniFormat));
    preferences.setRestoreAfterClip(false);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(preferences.announcementVolume(), 20);
    EXPECT_FALSE(Preferences(std::make_unique<QSettings>(path, QSettings::IniFormat)).restoreAfterClip());
}

} // namespace
