#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace pealix::test {

// A D-Bus session bus of the test's own: a dbus-daemon started for it and
// stopped through its process id when the object goes. Its configuration
// names no service folders, so nothing is ever activated on it: a name is
// there only when the test itself claims it.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    // The address to connect to, empty when the daemon did not start.
    QString address() const { return m_address; }
    // Why it did not start.
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

} // namespace pealix::test
