#include "support/PrivateSessionBus.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

namespace pealix::test {

namespace {

// A session bus like the desktop's, minus the service folders.
constexpr auto Config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateSessionBus::PrivateSessionBus()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon is not installed");
        return;
    }
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(Config).arg(m_dir.path()).toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write the bus configuration");
        return;
    }
    config.close();
    m_daemon.setProgram(program);
    m_daemon.setArguments({QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                           QStringLiteral("--config-file=") + config.fileName(),
                           QStringLiteral("--print-address=1")});
    m_daemon.start();
    // The daemon prints its address once it accepts connections.
    QDeadlineTimer deadline(10'000);
    while (m_daemon.state() != QProcess::NotRunning && !m_daemon.canReadLine() && !deadline.hasExpired())
        m_daemon.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    if (!m_daemon.canReadLine()) {
        m_error = QStringLiteral("dbus-daemon printed no address: ") +
                  QString::fromLocal8Bit(m_daemon.readAllStandardError()).trimmed();
        return;
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    // QProcess signals its own child, by the id it started.
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

} // namespace pealix::test
