#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

namespace pealix::test {

// One run of tools/pealix-house, read back: what the house wrote as JSON
// lines, what the driver (or other command) reported, and the lines for people.
struct HouseRun
{
    // The house could not run here: no namespaces, or a program it needs is missing.
    static constexpr int kCannotRun = 77;

    int exitCode = -1;
    bool finished = false;
    QList<QJsonObject> events;  // the house's --json lines
    QList<QJsonObject> results; // the driver's --results lines
    QString output, errors;

    // The house's events of `event` (and `room`, unless empty), in order.
    QList<QJsonObject> of(const QString &event, const QString &room = {}) const;
    // The driver's lines that carry `key`.
    QList<QJsonObject> resultsWith(const QString &key) const;
    // The rooms the house introduced, by name.
    QStringList rooms(const QString &kind = {}) const;
};

QString houseProgram();
QString houseDriver();
QString houseFile(const QString &name);

// Runs the house from `description` with the driver and `driverArguments` in
// its app namespace, until both end or `limit` passes; `houseOptions` go to the house.
HouseRun runHouse(const QString &description, const QStringList &driverArguments, std::chrono::seconds limit,
                  const QStringList &houseOptions = {});

} // namespace pealix::test
