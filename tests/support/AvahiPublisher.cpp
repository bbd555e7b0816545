#include "support/AvahiPublisher.h"

#include <QDeadlineTimer>

namespace pealix::test {

AvahiPublisher::AvahiPublisher(const QString &name, const QString &type, quint16 port,
                               const QByteArrayList &txt, const QString &host)
    : m_process(std::make_unique<QProcess>())
{
    QStringList arguments{QStringLiteral("--service")};
    if (!host.isEmpty())
        arguments << QStringLiteral("--host=") + host;
    arguments << name << type << QString::number(port);
    for (const QByteArray &entry : txt)
        arguments << QString::fromUtf8(entry);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("avahi-publish-service"), arguments);
}

AvahiPublisher::~AvahiPublisher()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate(); // SIGTERM to this child's PID only
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

bool AvahiPublisher::waitEstablished(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_output.contains("Established under name")) {
        if (m_process->state() == QProcess::NotRunning && !m_process->bytesAvailable())
            return false;
        if (!m_process->bytesAvailable() && !m_process->waitForReadyRead(int(deadline.remainingTime())))
            return false;
        m_output += m_process->readAll();
        if (deadline.hasExpired() && !m_output.contains("Established under name"))
            return false;
    }
    return true;
}

} // namespace pealix::test
