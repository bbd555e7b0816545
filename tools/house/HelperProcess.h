#pragma once

#include "house/Sandbox.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace pealix::house {

// A program the house runs for itself (ip, dbus-daemon, avahi-daemon) in one
// of its namespaces. It keeps the tail of what the program says, to show when
// something goes wrong.
class HelperProcess
{
public:
    HelperProcess(QString name, const Sandbox &sandbox, const ChildPlan &plan);
    ~HelperProcess();

    // Starts `program` and waits until it has said `marker`; false with the
    // reason when it ends or stays silent for `limit`.
    bool startAndAwait(const QString &program, const QStringList &arguments,
                       const QProcessEnvironment &environment, const QByteArray &marker,
                       std::chrono::milliseconds limit, QString *problem);
    // Runs `program` with `input` to its end; false with the reason unless it ends well within `limit`.
    bool run(const QString &program, const QStringList &arguments, const QByteArray &input,
             std::chrono::milliseconds limit, QString *problem);

    // Asks it to end and waits up to `grace`; kills it after that.
    void stop(std::chrono::milliseconds grace);

    qint64 pid() const { return m_process.processId(); }
    const QString &name() const { return m_name; }

private:
    QString failure(const QString &what) const;
    void keep(const QByteArray &bytes);

    QString m_name;
    const Sandbox &m_sandbox;
    ChildPlan m_plan;
    QProcess m_process;
    QByteArray m_said;
};

} // namespace pealix::house
