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

TEST(SingleInstance, SecondCopyHandsItsCommandToTheFirstAndNoClientCanJamIt)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(u"instance"_s);
    // Nobody runs yet: a command finds no one.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), std::nullopt);
    {
        QFile stale(socket); // what a copy that crashed leaves behind: it does not keep Pealix from starting
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance first(socket);
    first.acceptCommand(u"show"_s);
    ASSERT_TRUE(first.claim());
    QSignalSpy received(&first, &SingleInstance::commandReceived);
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), u"ok"_s);
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received.at(0).at(0).toString(), u"show"_s);
    // A command nobody registered is answered, and nothing happens.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"dance"_s), u"unknown"_s);
    EXPECT_EQ(received.count(), 1);
    SingleInstance second(socket);
    EXPECT_FALSE(second.claim());

    // A client that sends too much and one that stalls are both dropped: the
    // babbler at once, the staller after the time limit.
    QLocalSocket babbler, staller;
    babbler.connectToServer(socket);
    ASSERT_TRUE(babbler.waitForConnected(2000));
    babbler.write(QByteArray(4096, 'x'));
    staller.connectToServer(socket);
    ASSERT_TRUE(staller.waitForConnected(2000));
    staller.write("sh");
    EXPECT_TRUE(QTest::qWaitFor([&] { return babbler.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return staller.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(received.count(), 1);
    // And the channel still serves the first copy.
    EXPECT_EQ(sendFromAnotherProcess(socket, u"show"_s), u"ok"_s);
    EXPECT_EQ(received.count(), 2);
}
