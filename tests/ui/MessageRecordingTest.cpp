// The Messages tab recording from a virtual microphone fed with speech (the
// recorder tests' pulse-fixture.sh): clips of its own that neither
// push-to-talk nor the next Record can overwrite, then titled and saved.
#include "UiTestSupport.h"

#include "audio/AudioFileDuration.h"
#include "audio/AudioRecorder.h"
#include "model/MessageStore.h"
#include "support/TestEnvironment.h"
#include "ui/MessageRecorderVM.h"
#include "ui/MessagesTab.h"

#include <QCoro/QCoroProcess>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(findProgram(program), arguments);
    return QCoro::waitFor(qCoro(process).waitForFinished(std::chrono::seconds(20))) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

TEST(MessageRecording, PendingClipsSurviveOtherRecordingsUntilSaved)
{
    const QString vmic = QFileInfo(qEnvironmentVariable("PULSE_SERVER").mid(5)).absolutePath();
    PEALIX_REQUIRE(QFileInfo::exists(vmic + u"/native"_s), "no PulseAudio server from pulse-fixture.sh");
    PEALIX_REQUIRE(havePrograms({u"espeak-ng"_s, u"paplay"_s}), "espeak-ng and paplay are needed");
    QTemporaryDir dir;
    const QString first = dir.filePath(u"first.wav"_s), second = dir.filePath(u"second.wav"_s);
    ASSERT_TRUE(run(u"espeak-ng"_s, {u"-w"_s, first, u"Dinner is ready"_s}));
    ASSERT_TRUE(run(u"espeak-ng"_s, {u"-w"_s, second, u"Time for school, everybody down please"_s}));
    const auto speak = [&](const QString &wav) { return run(u"paplay"_s, {u"-d"_s, u"vmic_sink"_s, wav}); };

    MessageStore store(dir.filePath(u"Messages"_s));
    auto *vm = new MessageRecorderVM(dir.path());
    MessagesTab tab(&store, vm);
    tab.show();
    auto *record = child<QPushButton>(&tab, "recordButton");
    auto *pendingRow = child(&tab, "pendingRow");
    auto *save = child<QPushButton>(&tab, "saveMessageButton");
    auto *title = child<QLineEdit>(&tab, "messageTitle");

    // Record, speak, Stop: the clip waits in a file of its own.
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->isRecording(); }, 5000)) << vm->lastError().toStdString();
    EXPECT_EQ(record->text(), u"Stop"_s);
    ASSERT_TRUE(speak(first));
    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(record->text(), u"Record"_s);
    ASSERT_TRUE(vm->pendingClip());
    EXPECT_FALSE(QFile::exists(vm->recordingPath()));
    EXPECT_GT(audioFileDuration(vm->pendingPath()).value_or(0), 0.8);
    EXPECT_TRUE(pendingRow->isVisible());
    const QByteArray firstClip = digest(vm->pendingPath());

    // Push-to-talk records meanwhile, into its own clip file.
    AudioRecorder pushToTalk;
    ASSERT_FALSE(pushToTalk.start());
    ASSERT_TRUE(speak(second));
    ASSERT_TRUE(pushToTalk.stop());
    EXPECT_EQ(digest(vm->pendingPath()), firstClip);

    // A second Record leaves the pending clip alone until its Stop replaces it.
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->isRecording(); }, 5000));
    ASSERT_TRUE(speak(second));
    EXPECT_EQ(digest(vm->pendingPath()), firstClip);
    EXPECT_TRUE(pendingRow->isVisible());
    QTest::mouseClick(record, Qt::LeftButton);
    const QByteArray secondClip = digest(vm->pendingPath());
    EXPECT_NE(secondClip, firstClip);
    EXPECT_GT(audioFileDuration(vm->pendingPath()).value_or(0), 1.5);

    // Save wants a title that is more than spaces, and keeps it as typed.
    QTest::keyClicks(title, u"   "_s);
    EXPECT_FALSE(save->isEnabled());
    title->setText(u" Dinner "_s);
    EXPECT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_EQ(store.messages().size(), 1);
    EXPECT_EQ(store.messages().at(0).title, u" Dinner "_s);
    EXPECT_EQ(digest(store.messages().at(0).url.toLocalFile()), secondClip);
    EXPECT_EQ(visibleTexts(&tab, "messageTitleLabel"), QStringList{u" Dinner "_s});
    EXPECT_FALSE(pendingRow->isVisible());
    EXPECT_TRUE(title->text().isEmpty());
    EXPECT_FALSE(vm->pendingClip());
    EXPECT_FALSE(QFile::exists(vm->pendingPath()));
}
