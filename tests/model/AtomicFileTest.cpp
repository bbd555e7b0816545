// Saving onto a name that is already taken must leave the file there alone:
// a second writer that takes a name between our look and our rename keeps it.
#include "model/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(AtomicFileTest, ACopyOntoAnExistingNameReplacesNothingAndLeavesNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(u"new recording.m4a"_s);
    const QString taken = dir.filePath(u"Dinner.m4a"_s);
    ASSERT_TRUE(writeFile(source, "the new recording"));
    ASSERT_TRUE(writeFile(taken, "the message saved before"));

    EXPECT_EQ(copyFileWithoutReplacing(source, taken), CopyResult::TargetExists);
    EXPECT_EQ(readFile(taken), "the message saved before");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({u"Dinner.m4a"_s, u"new recording.m4a"_s}));

    const QString free = dir.filePath(u"Dinner 2.m4a"_s);
    EXPECT_EQ(copyFileWithoutReplacing(source, free), CopyResult::Copied);
    EXPECT_EQ(readFile(free), "the new recording");
}

} // namespace
