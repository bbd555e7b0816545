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

// New files and folders are checked where the application writes them, under the
// same umask; these are what an earlier version left open.
TEST_F(PrivateFilesTest, WhatAnEarlierVersionLeftOpenIsClosedUp)
{
    const QString earlier = m_dir.filePath(u"earlier"_s);
    ASSERT_TRUE(QDir().mkdir(earlier));
    ASSERT_EQ(modeOf(earlier), 0755);
    MessageStore reopened(earlier);
    EXPECT_EQ(modeOf(earlier), 0700);

    // A settings file is closed up at the next change, and keeps its settings.
    const QString path = m_dir.filePath(u"Pealix.conf"_s);
    Preferences(std::make_unique<QSettings>(path, QSettings::IniFormat)).setAnnouncementVolume(20);
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions(0x6644)));
    Preferences preferences(std::make_unique<QSettings>(path, QSettings::IniFormat));
    preferences.setRestoreAfterClip(false);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(preferences.announcementVolume(), 20);
    EXPECT_FALSE(Preferences(std::make_unique<QSettings>(path, QSettings::IniFormat)).restoreAfterClip());
}

} // namespace
