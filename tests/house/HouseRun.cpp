#include "house/HouseRun.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace pealix::test {

using namespace Qt::StringLiterals;

namespace {

QList<QJsonObject> jsonLines(const QString &path)
{
    QList<QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    return lines;
}

} // namespace

QString houseProgram()
{
    return QStringLiteral(PEALIX_HOUSE_PROGRAM);
}

QString houseDriver()
{
    return QStringLiteral(PEALIX_HOUSE_DRIVER);
}

QString houseFile(const QString &name)
{
    return QStringLiteral(PEALIX_HOUSES_DIR) + u'/' + name;
}

QList<QJsonObject> HouseRun::of(const QString &event, const QString &room) const
{
    QList<QJsonObject> found;
    for (const QJsonObject &each : events)
        if (each.value(u"event"_s).toString() == event &&
            (room.isEmpty() || each.value(u"room"_s).toString() == room))
            found << each;
    return found;
}

QList<QJsonObject> HouseRun::resultsWith(const QString &key) const
{
    QList<QJsonObject> found;
    for (const QJsonObject &each : results)
        if (each.contains(key))
            found << each;
    return found;
}

QStringList HouseRun::rooms(const QString &kind) const
{
    QStringList names;
    for (const QJsonObject &room : of(u"room"_s))
        if (kind.isEmpty() || room.value(u"kind"_s).toString() == kind)
            names << room.value(u"room"_s).toString();
    return names;
}

HouseRun runHouse(const QString &description, const QStringList &driverArguments, std::chrono::seconds limit,
                  const QStringList &houseOptions)
{
    HouseRun run;
    QTemporaryDir dir;
    const QString events = dir.filePath(u"events.jsonl"_s), results = dir.filePath(u"results.jsonl"_s);
    QProcess house;
    house.start(houseProgram(), QStringList{description, u"--json"_s, events} + houseOptions +
                                    QStringList{u"--"_s, houseDriver(), u"--results"_s, results} +
                                    driverArguments);
    run.finished = house.waitForFinished(int(std::chrono::milliseconds(limit).count()));
    if (!run.finished) {
        house.kill();
        house.waitForFinished();
    }
    run.exitCode = house.exitStatus() == QProcess::NormalExit ? house.exitCode() : -1;
    run.output = QString::fromUtf8(house.readAllStandardOutput());
    run.errors = QString::fromUtf8(house.readAllStandardError());
    run.events = jsonLines(events);
    run.results = jsonLines(results);
    return run;
}

} // namespace pealix::test
