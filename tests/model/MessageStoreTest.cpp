#include "model/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pealix;

namespace {
class MessageStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_clip = m_dir.filePath(QStringLiteral("clip.m4a"));
        writeFile(m_clip, clipBytes());
        m_folder = m_dir.filePath(QStringLiteral("support/Pealix/Messages"));
    }

    static QByteArray clipBytes() { return QByteArray("\0\0\0\x20" "ftypM4A clip bytes", 22).repeated(5000); }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static QStringList titles(const MessageStore &store)
    {
        QStringList result;
        for (const SavedMessage &message : store.messages())
            result << message.title;
        return result;
    }

    QStringList folderEntries() const
    {
        return QDir(m_folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_folder;
};
} // namespace

TEST_F(MessageStoreTest, RepeatedTitlesAreNumberedAndCopiedByteForByte)
{
    EXPECT_EQ(MessageStore::defaultFolder(), qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Pealix/Messages"));
    MessageStore store(m_folder); // creates the folder
    EXPECT_TRUE(store.messages().isEmpty());
    QSignalSpy changed(&store, &MessageStore::messagesChanged);
    for (int i = 0; i < 3; ++i)
        store.save(m_clip, QStringLiteral("Dinner"));
    store.save(m_clip, QString());
    store.save(m_clip, QString());

    EXPECT_EQ(titles(store), (QStringList{QStringLiteral("Dinner"), QStringLiteral("Dinner 2"),
                                          QStringLiteral("Dinner 3"), QStringLiteral("Message"),
                                          QStringLiteral("Message 2")}));
    EXPECT_EQ(changed.count(), 5);
    const SavedMessage &second = store.messages().at(1);
    EXPECT_EQ(second.id, QStringLiteral("Dinner 2.m4a"));
    EXPECT_EQ(second.url, QUrl::fromLocalFile(QDir(m_folder).filePath(QStringLiteral("Dinner 2.m4a"))));
    QFile copy(second.url.toLocalFile());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), clipBytes());
    EXPECT_TRUE(QFile::exists(m_clip)); // the clip stays where it was
    // Nothing but the messages themselves is left in the folder.
    EXPECT_EQ(folderEntries().size(), 5);
}

TEST_F(MessageStoreTest, SeparatorsBecomeHyphensAndSpacesAreKept)
{
    MessageStore store(m_folder);
    store.save(m_clip, QStringLiteral("a/b:c"));
    store.save(m_clip, QStringLiteral("x//y"));
    store.save(m_clip, QStringLiteral("   "));
    EXPECT_EQ(titles(store), (QStringList{QStringLiteral("   "), QStringLiteral("a-b-c"), QStringLiteral("x--y")}));
}

TEST_F(MessageStoreTest, OnlyLowerCaseM4aFilesAreListedSortedByCodePoints)
{
    QDir().mkpath(m_folder + QStringLiteral("/Folder.m4a"));
    for (const char *name : {"Zebra.m4a", "apple.m4a", "Note.M4A", "Note.wav", ".hidden.m4a", ".m4a",
                             "b.c.m4a", "\xef\xbf\xbd.m4a", "\xf0\x9f\x90\x9d.m4a"})
        writeFile(QDir(m_folder).filePath(QString::fromUtf8(name)), "x");
    MessageStore store(m_folder);
    // U+FFFD sorts before U+1F41D by code point, though not by UTF-16 unit.
    EXPECT_EQ(titles(store), (QStringList{QStringLiteral(".hidden"), QStringLiteral("Zebra"),
                                          QStringLiteral("apple"), QStringLiteral("b.c"),
                                          QString::fromUtf8("\xef\xbf\xbd"),
                                          QString::fromUtf8("\xf0\x9f\x90\x9d")}));
}

TEST_F(MessageStoreTest, AnExistingFileIsNeverReplaced)
{
    MessageStore store(m_folder);
    writeFile(QDir(m_folder).filePath(QStringLiteral("Dinner.m4a")), "precious");
    store.save(m_clip, QStringLiteral("Dinner"));
    QFile original(QDir(m_folder).filePath(QStringLiteral("Dinner.m4a")));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), QByteArray("precious"));
    EXPECT_EQ(titles(store), (QStringList{QStringLiteral("Dinner"), QStringLiteral("Dinner 2")}));
}

TEST_F(MessageStoreTest, ALongTitleIsShortenedOnACharacterBoundary)
{
    MessageStore store(m_folder);
    // 100 three-byte characters: 300 bytes, over the 255-byte name limit.
    const QString title = QString(100, QChar(0x20AC));
    store.save(m_clip, title);
    store.save(m_clip, title);
    ASSERT_EQ(store.messages().size(), 2);
    for (const SavedMessage &message : store.messages()) {
        const QByteArray name = message.id.toUtf8();
        EXPECT_LE(name.size(), 255);
        EXPECT_TRUE(title.startsWith(message.title.section(QLatin1Char(' '), 0, 0)));
        EXPECT_FALSE(message.title.contains(QChar::ReplacementCharacter));
    }
    const QString kept(83, QChar(0x20AC)); // 249 bytes, the most that fits beside " 2.m4a"
    EXPECT_EQ(store.messages().at(0).id, kept + QStringLiteral(".m4a"));
    EXPECT_EQ(store.messages().at(1).id, kept + QStringLiteral(" 2.m4a"));
}

TEST(MessageFileNameTest, CutsNeverSplitACharacter)
{
    const QString bees = QString::fromUtf8("\xf0\x9f\x90\x9d").repeated(3); // 12 bytes, 6 UTF-16 units
    EXPECT_EQ(MessageStore::fileName(bees, 1, 16), bees + QStringLiteral(".m4a"));
    EXPECT_EQ(MessageStore::fileName(bees, 1, 15), bees.left(4) + QStringLiteral(".m4a"));
    EXPECT_EQ(MessageStore::fileName(bees, 12, 14), bees.left(2) + QStringLiteral(" 12.m4a"));
    EXPECT_EQ(MessageStore::fileName(bees, 1, 4), QStringLiteral(".m4a"));
}

TEST_F(MessageStoreTest, DeletingAGoneFileOnlyRefreshesTheList)
{
    MessageStore store(m_folder);
    store.save(m_clip, QStringLiteral("One"));
    store.save(m_clip, QStringLiteral("Two"));
    const SavedMessage one = store.messages().at(0);
    ASSERT_TRUE(QFile::remove(one.url.toLocalFile()));
    store.deleteMessage(store.messages().at(1));
    EXPECT_TRUE(store.messages().isEmpty());
    store.deleteMessage(one);
    EXPECT_TRUE(store.messages().isEmpty());
}

TEST_F(MessageStoreTest, AFolderThatCannotExistGivesAnEmptyListAndSavesNothing)
{
    // A regular file where a parent folder should be: creation fails even for root.
    writeFile(m_dir.filePath(QStringLiteral("blocker")), "x");
    MessageStore store(m_dir.filePath(QStringLiteral("blocker/Pealix/Messages")));
    store.save(m_clip, QStringLiteral("Lost"));
    store.reload();
    EXPECT_TRUE(store.messages().isEmpty());

    MessageStore usable(m_folder);
    usable.save(m_dir.filePath(QStringLiteral("no-such-clip.m4a")), QStringLiteral("Ghost"));
    EXPECT_TRUE(usable.messages().isEmpty());
    EXPECT_TRUE(folderEntries().isEmpty()); // no half-made file either
}

