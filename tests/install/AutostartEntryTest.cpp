// "Start Pealix when I log in": the entry in the XDG autostart folder, read
// back by the programs a desktop session uses (GLib's launcher,
// desktop-file-validate), and the Speakers tab's check box that stands for it.
#include "ui/AutostartEntry.h"
#include "model/Preferences.h"
#include "model/SpeakerStore.h"
#include "support/TestEnvironment.h"
#include "ui/SpeakersTab.h"

#include <QCheckBox>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A program that writes the path it was started as into `marker`, whole: the
// file appears only once it holds the path.
bool makeProgram(const QString &path, const QString &marker)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QString quoted = marker;
    quoted.replace(u"'"_s, u"'\\''"_s);
    return writeFile(path, ("#!/bin/sh\nprintf '%s' \"$0\" > '" + quoted + ".part' && mv '" + quoted +
                            ".part' '" + quoted + "'\n")
                               .toUtf8()) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString run(const QString &program, const QStringList &arguments, int *status)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        *status = -1;
        return u"did not finish"_s;
    }
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

} // namespace

TEST(AutostartEntry, SessionStartsTheProgramWhereverItLives)
{
    QString missing;
    PEALIX_REQUIRE(test::havePrograms({u"gio"_s, u"desktop-file-validate"_s}, &missing),
                   "needs " + missing.toStdString() + " (libglib2.0-bin, desktop-file-utils)");
    const struct
    {
        const char *situation;
        QString folder;
        QByteArray execLine; // empty: GLib's launcher must start the program
    } rows[] = {
        {"installed like a package", u"usr/bin"_s, {}},
        {"a folder name with spaces", u"My Programs/Pealix build"_s, {}},
        {"quotes, dollar and backtick", u"it's \"$HOME\" `id`"_s, {}},
        {"backslash, ampersand, semicolon and a hash", u"a\\b & c; #1 ~(x)"_s, {}},
        {"letters beyond ASCII", u"Programme/Süßes Ö"_s, {}},
        // GLib looks for the program before it turns "%%" back into "%", so a
        // percent sign is checked by desktop-file-validate alone.
        {"a percent sign, which is no field code", u"100% Pealix"_s, "\nExec=\"%1/100%% Pealix/pealix\"\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        QTemporaryDir dir;
        const QString program = dir.filePath(row.folder + u"/pealix"_s);
        const QString marker = dir.filePath(u"started-as"_s);
        ASSERT_TRUE(makeProgram(program, marker));

        AutostartEntry entry(dir.filePath(u"autostart"_s), program);
        ASSERT_TRUE(entry.setEnabled(true));
        EXPECT_TRUE(entry.isEnabled());
        int status = 0;
        const QString report = run(u"desktop-file-validate"_s, {entry.filePath()}, &status);
        EXPECT_EQ(status, 0) << report.toStdString();
        if (!row.execLine.isEmpty()) {
            EXPECT_TRUE(
                readAll(entry.filePath()).contains(QString::fromUtf8(row.execLine).arg(dir.path()).toUtf8()));
            continue;
        }
        // GLib's launcher is what GNOME's session starts autostart entries with.
        const QString launched = run(u"gio"_s, {u"launch"_s, entry.filePath()}, &status);
        ASSERT_EQ(status, 0) << launched.toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 5000));
        EXPECT_EQ(QString::fromUtf8(readAll(marker)), program) << readAll(entry.filePath()).toStdString();
    }
}

TEST(AutostartEntry, WhatCannotBeWrittenSafelyMakesNoEntry)
{
    EXPECT_EQ(AutostartEntry::contents(QString()), std::nullopt);
    const struct
    {
        const char *situation;
        QString program;
        bool folderIsAFile = false;
    } rows[] = {
        {"a line break in the path", u"/opt/pe\nalix"_s},
        {"a tab in the path", u"/opt/pe\talix"_s},
        {"a carriage return in the path", u"/opt/pealix\r"_s},
        {"a file where the folder must go", u"/usr/bin/pealix"_s, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"autostart"_s);
        if (row.folderIsAFile) {
            ASSERT_TRUE(writeFile(folder, "not a folder"));
        }
        AutostartEntry entry(folder, row.program);
        EXPECT_FALSE(entry.setEnabled(true));
        EXPECT_FALSE(entry.isEnabled());
        EXPECT_FALSE(QFile::exists(entry.filePath()));
        if (row.folderIsAFile) {
            EXPECT_EQ(readAll(folder), "not a folder");
        }
    }
}

TEST(AutostartEntry, ReplacesTheWholeEntryAndRemovesIt)
{
    QTemporaryDir dir;
    AutostartEntry entry(dir.path(), u"/usr/bin/pealix"_s);
    const QByteArray stale = "[Desktop Entry]\nType=Application\nName=Pealix\nExec=/old/place/pealix\n";
    ASSERT_TRUE(writeFile(entry.filePath(), stale));

    // A session reading the entry while it is rewritten sees the old one whole.
    QFile reader(entry.filePath());
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(entry.setEnabled(true));
    EXPECT_EQ(reader.readAll(), stale);
    EXPECT_TRUE(readAll(entry.filePath()).contains("\nExec=/usr/bin/pealix\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{u"org.pealix.Pealix.desktop"_s});

    EXPECT_TRUE(entry.setEnabled(false));
    EXPECT_FALSE(QFile::exists(entry.filePath()));
    EXPECT_FALSE(entry.isEnabled());
    // Already gone is what was asked for.
    EXPECT_TRUE(entry.setEnabled(false));
}

TEST(AutostartEntry, EntriesTheSessionSkipsAreNotEnabled)
{
    const struct
    {
        const char *situation;
        QByteArray text;
        bool enabled;
    } rows[] = {
        {"our own entry", *AutostartEntry::contents(u"/usr/bin/pealix"_s), true},
        {"hidden, as a desktop's startup list switches it off",
         "[Desktop Entry]\nType=Application\nExec=pealix\nHidden=true\n", false},
        {"switched off by GNOME's tools", "[Desktop Entry]\nExec=pealix\nX-GNOME-Autostart-enabled = false\n",
         false},
        {"switched on by GNOME's tools", "[Desktop Entry]\nExec=pealix\nX-GNOME-Autostart-enabled=true\n",
         true},
        {"hidden only in an action", "[Desktop Entry]\nExec=pealix\n\n[Desktop Action talk]\nHidden=true\n",
         true},
        {"an empty file", "", true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        QTemporaryDir dir;
        AutostartEntry entry(dir.path(), u"/usr/bin/pealix"_s);
        ASSERT_TRUE(writeFile(entry.filePath(), row.text));
        EXPECT_EQ(entry.isEnabled(), row.enabled);
    }
}

namespace {

QCoro::Task<QList<Speaker>> noSpeakers(double)
{
    co_return QList<Speaker>();
}

} // namespace

TEST(SpeakersTab, LogInCheckBoxWritesRemovesAndFollowsTheEntry)
{
    QTemporaryDir dir;
    Preferences preferences(
        std::make_unique<QSettings>(dir.filePath(u"Pealix.conf"_s), QSettings::IniFormat));
    SpeakerStore store(noSpeakers, noSpeakers, preferences);
    // Where a desktop session looks: the test main gives every test its own XDG_CONFIG_HOME.
    const QString path = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart/org.pealix.Pealix.desktop"_s;
    ASSERT_TRUE(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"));
    QFile::remove(path);

    SpeakersTab tab(&store, preferences);
    tab.show();
    auto *box = tab.findChild<QCheckBox *>(u"autostartToggle"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), u"Start Pealix when I log in"_s);
    EXPECT_FALSE(box->isChecked());

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(readAll(path), *AutostartEntry::contents(QCoreApplication::applicationFilePath()));

    // Another tool switches it off while the window is closed; opening it again shows that.
    tab.hide();
    ASSERT_TRUE(writeFile(path, readAll(path) + "Hidden=true\n"));
    tab.show();
    EXPECT_FALSE(box->isChecked());
    // Ticking it writes a fresh entry in place of the switched-off one.
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(readAll(path).contains("Hidden"));

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(QFile::exists(path));
}
