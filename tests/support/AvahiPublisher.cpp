#include "support/AvahiPublisher.h"

#include <QDeadlineTimer>

namespace pealix::test {

AvahiPublisher::AvahiPublisher(const QString &name, const QString &type, quint16 port,
                               const QByteArrayList &txt, const QString &host)
{
    QStringList arguments{QStringLiteral("--service")};
    if (!host.isEmpty())
        arguments << QStringLiteral("--host=") + host;
    arguments << name << type << QString::number(port);
    for (const QByteArray &entry : txt)
        arguments << QString::fromUtf8(entry);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("avahi-publish-service"), arguments);
}

AvahiPublisher::~AvahiPublisher()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // lets it withdraw the service; QProcess kills it if it lingers
    m_process.waitForFinished(3000);
}

bool AvahiPublisher::waitEstablished(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_output += m_process.readAll();
        if (m_output.contains("Established under name"))
            return true;
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
}

} // namespace pealix::test
