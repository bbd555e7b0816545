#include "house/HelperProcess.h"

#include <QDeadlineTimer>

namespace pealix::house {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kKeptBytes = 16 * 1024;

} // namespace

HelperProcess::HelperProcess(QString name, const Sandbox &sandbox, const ChildPlan &plan)
    : m_name(std::move(name)), m_sandbox(sandbox), m_plan(plan)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier(sandbox.childSetup(plan));
    QObject::connect(&m_process, &QProcess::readyRead, &m_process, [this] { keep(m_process.readAll()); });
}

HelperProcess::~HelperProcess()
{
    stop(std::chrono::milliseconds(0));
}

void HelperProcess::keep(const QByteArray &bytes)
{
    m_said += bytes;
    if (m_said.size() > kKeptBytes)
        m_said = m_said.right(kKeptBytes);
}

QString HelperProcess::failure(const QString &what) const
{
    const QString said = QString::fromLocal8Bit(m_said).trimmed();
    return m_name + u' ' + what + (said.isEmpty() ? QString() : u"; it said:\n"_s + said);
}

bool HelperProcess::startAndAwait(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment, const QByteArray &marker,
                                  std::chrono::milliseconds limit, QString *problem)
{
    m_process.setProcessEnvironment(environment);
    const QStringList command = m_sandbox.command(m_plan, program, arguments);
    m_process.start(command.first(), command.mid(1));
    if (!m_process.waitForStarted(int(limit.count()))) {
        *problem = failure(u"did not start: "_s + m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(limit);
    while (!m_said.contains(marker)) {
        if (m_process.state() != QProcess::Running) {
            *problem = failure(u"ended before it was ready"_s);
            return false;
        }
        if (deadline.hasExpired()) {
            *problem = failure(u"was not ready within %1 s"_s.arg(limit.count() / 1000.0));
            return false;
        }
        if (m_process.waitForReadyRead(int(deadline.remainingTime())))
            keep(m_process.readAll());
    }
    return true;
}

bool HelperProcess::run(const QString &program, const QStringList &arguments, const QByteArray &input,
                        std::chrono::milliseconds limit, QString *problem)
{
    const QStringList command = m_sandbox.command(m_plan, program, arguments);
    m_process.start(command.first(), command.mid(1));
    m_process.write(input);
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(int(limit.count()))) {
        *problem = failure(u"did not finish: "_s + m_process.errorString());
        stop(std::chrono::milliseconds(0));
        return false;
    }
    keep(m_process.readAll());
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        *problem = failure(u"failed (exit status %1)"_s.arg(m_process.exitCode()));
        return false;
    }
    return true;
}

void HelperProcess::stop(std::chrono::milliseconds grace)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    if (grace.count() > 0) {
        m_process.terminate();
        if (m_process.waitForFinished(int(grace.count())))
            return;
    }
    m_process.kill();
    m_process.waitForFinished(1000);
}

} // namespace pealix::house
