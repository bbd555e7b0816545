// However the house ends, it leaves nothing: no process of its own or of its
// children's children, no network namespace, no link, no temporary file.
#include "house/HouseRun.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

QStringList interfaceNames()
{
    QStringList names;
    for (const QNetworkInterface &each : QNetworkInterface::allInterfaces())
        names << each.name();
    return names;
}

// Every process below `root`, found by their parents in /proc.
QList<qint64> descendants(qint64 root)
{
    QHash<qint64, qint64> parents;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile stat(u"/proc/"_s + entry + u"/stat"_s);
        if (entry.toLongLong() > 0 && stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            parents.insert(entry.toLongLong(),
                           line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong());
        }
    }
    QList<qint64> found{root};
    for (qsizetype i = 0; i < found.size(); ++i)
        for (auto each = parents.cbegin(); each != parents.cend(); ++each)
            if (each.value() == found[i])
                found << each.key();
    return found.mid(1);
}

// The processes that are in, or hold open, a network namespace in `inodes`.
QStringList holders(const QSet<qint64> &inodes)
{
    QStringList found;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        if (entry.toLongLong() <= 0)
            continue;
        QStringList links{QFile::symLinkTarget(u"/proc/"_s + entry + u"/ns/net"_s)};
        for (const QString &fd : QDir(u"/proc/"_s + entry + u"/fd"_s).entryList(QDir::Files | QDir::System))
            links << QFile::symLinkTarget(u"/proc/"_s + entry + u"/fd/"_s + fd);
        for (const QString &link : links)
            for (qint64 inode : inodes)
                if (link.endsWith(u"net:["_s + QString::number(inode) + u']'))
                    found << entry;
    }
    return found;
}

// Waits, by the processes' own descriptors, until every one of `pids` has ended.
bool allEnd(const QList<qint64> &pids, int limitMs)
{
    std::vector<pollfd> waiting;
    for (qint64 pid : pids) {
        const int fd = int(syscall(SYS_pidfd_open, pid_t(pid), 0));
        if (fd >= 0)
            waiting.push_back({fd, POLLIN, 0});
    }
    const QDeadlineTimer deadline(limitMs);
    bool ended = true;
    for (pollfd &each : waiting) {
        ended = ended && poll(&each, 1, int(deadline.remainingTime())) == 1;
        close(each.fd);
    }
    return ended;
}

} // namespace

TEST(HouseTeardownTest, NothingIsLeftWhicheverWayTheHouseEnds)
{
    const std::pair<const char *, int> rows[] = {{"killed outright (SIGKILL)", SIGKILL},
                                                 {"stopped with Ctrl+C (SIGINT)", SIGINT}};
    for (const auto &[situation, signalNumber] : rows) {
        SCOPED_TRACE(situation);
        const QStringList interfacesBefore = interfaceNames();
        QTemporaryDir temporary, results;
        QProcess house;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_s, temporary.path());
        house.setProcessEnvironment(environment);
        // A command with children of its own, which must go too; it says when they are there, in
        // words that its command line (which the house repeats) does not hold.
        house.start(houseProgram(),
                    {houseFile(u"demo.json"_s), u"--json"_s, results.filePath(u"events"_s), u"--"_s, u"sh"_s,
                     u"-c"_s, u"sleep 600 & sleep 600 & echo $((6 * 7)) asleep; wait"_s});
        QByteArray said;
        const QDeadlineTimer deadline(60000);
        while (!said.contains("42 asleep") && house.state() != QProcess::NotRunning && !deadline.hasExpired())
            if (house.waitForReadyRead(int(deadline.remainingTime())))
                said += house.readAllStandardOutput();
        if (house.state() == QProcess::NotRunning && house.exitCode() == HouseRun::kCannotRun)
            PEALIX_REQUIRE(false,
                           "pealix-house cannot run here: " + house.readAllStandardError().toStdString());
        ASSERT_TRUE(said.contains("42 asleep"))
            << said.toStdString() << house.readAllStandardError().toStdString();

        QFile file(results.filePath(u"events"_s));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonObject ready;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (QJsonDocument::fromJson(line).object().value(u"event"_s) == u"ready"_s)
                ready = QJsonDocument::fromJson(line).object();
        const QSet<qint64> networks{ready.value(u"houseNetwork"_s).toInteger(),
                                    ready.value(u"appNetwork"_s).toInteger()};
        const QList<qint64> processes = descendants(house.processId());
        // The two daemons on each side and the command, each behind its relay and its namespace's
        // first process, and the command's two children.
        EXPECT_EQ(processes.size(), 5 * 3 + 2);
        ASSERT_FALSE(holders(networks).isEmpty()); // the check below can see a namespace in use

        kill(pid_t(house.processId()), signalNumber);
        ASSERT_TRUE(house.waitForFinished(30000));
        EXPECT_TRUE(allEnd(processes, 10000));
        EXPECT_EQ(holders(networks).join(u' ').toStdString(), "") << "processes in the house's namespaces";
        EXPECT_EQ(QDir(temporary.path())
                      .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                      .join(u' ')
                      .toStdString(),
                  "")
            << "files left in the house's TMPDIR";
        EXPECT_EQ(interfaceNames().join(u' ').toStdString(), interfacesBefore.join(u' ').toStdString());
        if (signalNumber == SIGINT) {
            EXPECT_EQ(house.exitStatus(), QProcess::NormalExit);
            EXPECT_TRUE(house.readAllStandardOutput().contains("House closed."));
        }
    }
}
