// The Messages tab without a microphone: a recording that cannot start, the
// list of saved messages and deleting them. Recording itself is in
// MessageRecordingTest.cpp, against a virtual microphone.
#include "UiTestSupport.h"

#include "model/MessageStore.h"
#include "ui/MessageRecorderVM.h"
#include "ui/MessagesTab.h"

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

TEST(MessagesTab, ARecordingThatCannotStartSaysWhyAndStaysOnRecord)
{
    QTemporaryDir dir;
    MessageStore store(dir.filePath(u"Messages"_s));
    // A folder that does not exist cannot hold the recording, whether or not
    // this machine has a microphone.
    auto *vm = new MessageRecorderVM(dir.filePath(u"missing/folder"_s));
    MessagesTab tab(&store, vm);
    tab.show();
    auto *record = child<QPushButton>(&tab, "recordButton");
    auto *error = child<QLabel>(&tab, "recordError");
    EXPECT_FALSE(error->isVisible());

    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return error->isVisible(); }, 5000));
    EXPECT_TRUE(error->text().startsWith(u"Couldn't start recording: "_s)) << error->text().toStdString();
    EXPECT_GT(error->text().size(), u"Couldn't start recording: "_s.size());
    EXPECT_EQ(record->text(), u"Record"_s);
    EXPECT_FALSE(vm->isRecording());
    EXPECT_FALSE(child(&tab, "pendingRow")->isVisible());
}

TEST(MessagesTab, ListsSavedMessagesAndDeletesWithoutAsking)
{
    QTemporaryDir dir;
    MessageStore store(dir.path());
    MessagesTab tab(&store, new MessageRecorderVM(dir.path()));
    tab.show();
    EXPECT_TRUE(child(&tab, "noMessages")->isVisible());

    writeFile(dir.filePath(u"Dinner.m4a"_s), "a");
    writeFile(dir.filePath(u"Bedtime.m4a"_s), "b");
    store.reload();
    EXPECT_FALSE(child(&tab, "noMessages")->isVisible());
    EXPECT_EQ(visibleTexts(&tab, "messageTitleLabel"), (QStringList{u"Bedtime"_s, u"Dinner"_s}));
    const QList<QToolButton *> deletes = children<QToolButton>(&tab, "deleteMessageButton");
    ASSERT_EQ(deletes.size(), 2);
    EXPECT_EQ(deletes.at(0)->accessibleName(), u"Delete Bedtime"_s);

    QTest::mouseClick(deletes.at(0), Qt::LeftButton);
    EXPECT_EQ(visibleTexts(&tab, "messageTitleLabel"), QStringList{u"Dinner"_s});
    EXPECT_FALSE(QFile::exists(dir.filePath(u"Bedtime.m4a"_s)));
    QTest::mouseClick(children<QToolButton>(&tab, "deleteMessageButton").at(0), Qt::LeftButton);
    EXPECT_TRUE(child(&tab, "noMessages")->isVisible());
}

TEST(MessagesTab, SaveIsBlockedForBlankTitles)
{
    const std::pair<const char *, bool> rows[] = {
        {"", true}, {"   ", true}, {"\t \t", true}, {" Dinner ", false}, {"\n", false}, {"a", false},
    };
    for (const auto &[title, blank] : rows)
        EXPECT_EQ(MessagesTab::titleIsBlank(QString::fromUtf8(title)), blank) << '"' << title << '"';
}
