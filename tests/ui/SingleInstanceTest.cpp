// One Pealix per session: the first copy claims the socket, later copies hand
// it a command. The later copy blocks while it waits, as a fresh process
// would, so here it runs on a thread of its own.
#include "ui/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <future>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {
std::optional<QString> sendFromAnotherProcess(const QString &socket, const QString &command)
{
    auto answer = std::async(std::launch::async, [=] { return SingleInstance::send(socket, command); });
    // The running copy answers from its event loop.
    if (!QTest::qWaitFor(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000))
        return u"(no answer in time)"_s;
    return answer.get();
}
} // namespace

TEST(SingleInstance, SecondCopyHandsItsCommandToTheFirst)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(u"instance"_s);
    // Nobody runs yet: a command finds no one.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), std::nullopt);

    SingleInstance first(socket);
    first.acceptCommand(u"show"_s);
    ASSERT_TRUE(first.claim());
    EXPECT_TRUE(first.isListening());
    EXPECT_EQ(QFile::permissions(socket) & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup), 0);
    QSignalSpy received(&first, &SingleInstance::commandReceived);

    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), u"ok"_s);
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received.at(0).at(0).toString(), u"show"_s);
    // A command nobody registered is answered, and nothing happens.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"dance"_s), u"unknown"_s);
    EXPECT_EQ(received.count(), 1);

    SingleInstance second(socket);
    EXPECT_FALSE(second.claim());
    EXPECT_FALSE(second.isListening());
}

TEST(SingleInstance, ALeftoverSocketDoesNotKeepPealixFromStarting)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(u"instance"_s);
    {
        QFile stale(socket); // what a copy that crashed leaves behind
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance instance(socket);
    instance.acceptCommand(u"show"_s);
    ASSERT_TRUE(instance.claim());
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), u"ok"_s);
}

TEST(SingleInstance, ClientsThatBabbleOrStallAreCutOff)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(u"instance"_s);
    SingleInstance instance(socket);
    instance.acceptCommand(u"show"_s);
    ASSERT_TRUE(instance.claim());
    QSignalSpy received(&instance, &SingleInstance::commandReceived);

    QLocalSocket babbler;
    babbler.connectToServer(socket);
    ASSERT_TRUE(babbler.waitForConnected(2000));
    babbler.write(QByteArray(4096, 'x'));
    QLocalSocket staller;
    staller.connectToServer(socket);
    ASSERT_TRUE(staller.waitForConnected(2000));
    staller.write("sh");
    // Both are dropped: the babbler at once, the staller after the time limit.
    EXPECT_TRUE(QTest::qWaitFor([&] { return babbler.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return staller.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(received.count(), 0);
    // And the channel still serves.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), u"ok"_s);
}
