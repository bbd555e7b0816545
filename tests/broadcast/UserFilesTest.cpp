// Everything Pealix writes for the user is the user's alone, under the umask
// most desktops run with (022, which leaves new files readable by everyone):
// a push-to-talk recording and its partial file, the Messages tab's pending
// clip, the saved message, the settings and the autostart entry are 0600, and
// every folder made for them 0700. Speech comes from the recorder tests'
// virtual microphone.
#include "audio/AudioRecorder.h"
#include "model/MessageStore.h"
#include "model/Preferences.h"
#include "support/TestEnvironment.h"
#include "ui/AutostartEntry.h"
#include "ui/MessageRecorderVM.h"

#include <QCoro/QCoroProcess>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

// The permission bits of `path` in octal, or "missing".
std::string modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return "missing";
    return QString::number(info.st_mode & 07777, 8).toStdString();
}

bool runToEnd(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(findProgram(program), arguments);
    return QCoro::waitFor(qCoro(process).waitForFinished(std::chrono::seconds(20))) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

struct Umask
{
    explicit Umask(mode_t mask) : previous(::umask(mask)) {}
    ~Umask() { ::umask(previous); }
    mode_t previous;
};

TEST(UserFiles, EverythingWrittenForTheUserIsTheirsAloneWhateverTheUmask)
{
    const QString server = qEnvironmentVariable("PULSE_SERVER").mid(5);
    PEALIX_REQUIRE(QFileInfo::exists(server), "no PulseAudio server from tests/recorder/pulse-fixture.sh");
    PEALIX_REQUIRE(havePrograms({u"espeak-ng"_s, u"paplay"_s}), "espeak-ng and paplay are needed");
    QTemporaryDir dir;
    const QString speech = dir.filePath(u"speech.wav"_s);
    ASSERT_TRUE(runToEnd(u"espeak-ng"_s, {u"-w"_s, speech, u"Dinner is ready"_s}));
    const auto speak = [&] { return runToEnd(u"paplay"_s, {u"-d"_s, u"vmic_sink"_s, speech}); };
    // The system's runtime folder stands in for $XDG_RUNTIME_DIR.
    const QString runtime = dir.filePath(u"runtime"_s);
    ASSERT_TRUE(QDir().mkdir(runtime));

    const Umask umask(022);
    QList<std::pair<QString, std::string>> written; // each path Pealix wrote, and the mode it must have

    // Push-to-talk: the file being recorded, then the clip.
    AudioRecorder pushToTalk(runtime + u"/pealix-clip.m4a"_s);
    ASSERT_FALSE(pushToTalk.start());
    const QFileInfoList partial =
        QDir(runtime).entryInfoList({u".pealix-clip-*"_s}, QDir::Files | QDir::Hidden | QDir::System);
    ASSERT_EQ(partial.size(), 1);
    EXPECT_EQ(modeOf(partial.first().absoluteFilePath()), "600") << "the file being recorded";
    ASSERT_TRUE(speak());
    const auto clip = pushToTalk.stop();
    ASSERT_TRUE(clip);
    written.append({clip->url.toLocalFile(), "600"});

    // The Messages tab: a recording kept as the pending clip, then saved, into folders not made yet.
    MessageRecorderVM messageRecorder(runtime);
    QCoro::waitFor(messageRecorder.record());
    ASSERT_TRUE(messageRecorder.isRecording()) << messageRecorder.lastError().toStdString();
    ASSERT_TRUE(speak());
    messageRecorder.stop();
    ASSERT_TRUE(messageRecorder.pendingClip()) << messageRecorder.lastError().toStdString();
    EXPECT_EQ(modeOf(messageRecorder.pendingPath()), "600") << "the pending clip";
    const QString share = dir.filePath(u"share"_s);
    MessageStore store(share + u"/Pealix/Messages"_s);
    ASSERT_TRUE(messageRecorder.save(store, u"Dinner"_s)) << messageRecorder.lastError().toStdString();
    ASSERT_EQ(store.messages().size(), 1);
    written.append({store.messages().first().url.toLocalFile(), "600"});
    written.append({share + u"/Pealix/Messages"_s, "700"});
    written.append({share + u"/Pealix"_s, "700"});
    written.append({share, "700"});

    // A setting changed, for the first time.
    const QString config = dir.filePath(u"config"_s);
    Preferences preferences(
        std::make_unique<QSettings>(config + u"/Pealix/Pealix.conf"_s, QSettings::IniFormat));
    preferences.setAnnouncementVolume(20);
    written.append({config + u"/Pealix/Pealix.conf"_s, "600"});
    written.append({config + u"/Pealix"_s, "700"});
    written.append({config, "700"});

    // Start at log-in switched on.
    AutostartEntry autostart(config + u"/autostart"_s, u"/usr/bin/pealix"_s);
    ASSERT_TRUE(autostart.setEnabled(true));
    written.append({autostart.filePath(), "600"});
    written.append({config + u"/autostart"_s, "700"});

    for (const auto &[path, mode] : std::as_const(written))
        EXPECT_EQ(modeOf(path), mode) << path.toStdString();
}

} // namespace
