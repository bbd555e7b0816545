#include "model/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {
class MessageStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { writeFile(m_clip, clipBytes()); }

    static QByteArray clipBytes() { return (QByteArray(3, '\0') + " ftypM4A clip bytes").repeated(5000); }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QStringList titles(const MessageStore &store)
    {
        QStringList result;
        for (const SavedMessage &message : store.messages())
            result << message.title;
        return result;
    }
    QString inFolder(const QString &name) const { return QDir(m_folder).filePath(name); }
    QStringList folderEntries() const { return QDir(m_folder).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir m_dir;
    QString m_clip = m_dir.filePath(u"clip.m4a"_s);
    QString m_folder = m_dir.filePath(u"support/Pealix/Messages"_s);
};
} // namespace

TEST_F(MessageStoreTest, TitlesBecomeFreeNumberedNamesAndCopiesAreExact)
{
    EXPECT_EQ(MessageStore::defaultFolder(), qEnvironmentVariable("XDG_DATA_HOME") + u"/Pealix/Messages"_s);
    MessageStore store(m_folder);                     // creates the folder
    writeFile(inFolder(u"Dinner.m4a"_s), "precious"); // someone else's file: never replaced
    QSignalSpy changed(&store, &MessageStore::messagesChanged);
    for (const QString &title :
         {u"Dinner"_s, u"Dinner"_s, QString(), QString(), u"a/b:c"_s, u"x//y"_s, u"   "_s})
        store.save(m_clip, title);

    EXPECT_EQ(titles(store), (QStringList{u"   "_s, u"Dinner"_s, u"Dinner 2"_s, u"Dinner 3"_s, u"Message"_s,
                                          u"Message 2"_s, u"a-b-c"_s, u"x--y"_s}));
    EXPECT_EQ(changed.count(), 7);
    EXPECT_EQ(readFile(inFolder(u"Dinner.m4a"_s)), QByteArray("precious"));
    const SavedMessage &second = store.messages().at(2);
    EXPECT_EQ(second.id, u"Dinner 2.m4a"_s);
    EXPECT_EQ(second.url, QUrl::fromLocalFile(inFolder(u"Dinner 2.m4a"_s)));
    EXPECT_EQ(readFile(second.url.toLocalFile()), clipBytes());
    EXPECT_TRUE(QFile::exists(m_clip));   // the clip stays where it was
    EXPECT_EQ(folderEntries().size(), 8); // no temporary files left behind
}

TEST_F(MessageStoreTest, OnlyLowerCaseM4aFilesAreListedSortedByCodePoints)
{
    QDir().mkpath(inFolder(u"Folder.m4a"_s));
    for (const char *name : {"Zebra.m4a", "apple.m4a", "Note.M4A", "Note.wav", ".hidden.m4a", ".m4a",
                             "b.c.m4a", "\xef\xbf\xbd.m4a", "\xf0\x9f\x90\x9d.m4a"})
        writeFile(inFolder(QString::fromUtf8(name)), "x");
    MessageStore store(m_folder);
    // U+FFFD sorts before U+1F41D by code point, though not by UTF-16 unit.
    EXPECT_EQ(titles(store),
              (QStringList{u".hidden"_s, u"Zebra"_s, u"apple"_s, u"b.c"_s, QString::fromUtf8("\xef\xbf\xbd"),
                           QString::fromUtf8("\xf0\x9f\x90\x9d")}));
}

TEST_F(MessageStoreTest, ALongTitleIsCutOnACharacterBoundaryToFitTheNameLimit)
{
    MessageStore store(m_folder);
    const QString title(100, QChar(0x20AC)); // 300 bytes of UTF-8, over the 255-byte limit
    store.save(m_clip, title);
    store.save(m_clip, title);
    const QString kept(83, QChar(0x20AC)); // 249 bytes, the most that fits beside " 2.m4a"
    ASSERT_EQ(store.messages().size(), 2);
    EXPECT_EQ(store.messages().at(0).id, kept + u".m4a"_s);
    EXPECT_EQ(store.messages().at(1).id, kept + u" 2.m4a"_s);

    // Never half a character of four UTF-8 bytes and two UTF-16 units.
    const QString bees = QString::fromUtf8("\xf0\x9f\x90\x9d").repeated(3);
    EXPECT_EQ(MessageStore::fileName(bees, 1, 15), bees.left(4) + u".m4a"_s);
    EXPECT_EQ(MessageStore::fileName(bees, 12, 14), bees.left(2) + u" 12.m4a"_s);
}

TEST_F(MessageStoreTest, FailuresLeaveTheListAsTheFolderShowsIt)
{
    MessageStore store(m_folder);
    store.save(m_clip, u"One"_s);
    store.save(m_clip, u"Two"_s);
    const SavedMessage one = store.messages().at(0);
    ASSERT_TRUE(QFile::remove(one.url.toLocalFile()));
    store.deleteMessage(store.messages().at(1));
    store.deleteMessage(one); // already gone
    EXPECT_TRUE(store.messages().isEmpty());

    store.save(m_dir.filePath(u"no-such-clip.m4a"_s), u"Ghost"_s);
    EXPECT_TRUE(store.messages().isEmpty());
    EXPECT_TRUE(folderEntries().isEmpty()); // no half-made file either

    // A regular file where a parent folder should be: creation fails even for root.
    writeFile(m_dir.filePath(u"blocker"_s), "x");
    MessageStore impossible(m_dir.filePath(u"blocker/Pealix/Messages"_s));
    impossible.save(m_clip, u"Lost"_s);
    impossible.reload();
    EXPECT_TRUE(impossible.messages().isEmpty());
}
