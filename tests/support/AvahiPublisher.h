#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QString>

namespace pealix::test {

// One DNS-SD service announced by an avahi-publish-service child, withdrawn by
// ending that child (by its PID) when this object goes. Only inside the mDNS sandbox.
class AvahiPublisher
{
public:
    // `host` empty means this machine's own name.
    AvahiPublisher(const QString &name, const QString &type, quint16 port, const QByteArrayList &txt = {},
                   const QString &host = {});
    ~AvahiPublisher();

    // Blocks (set-up only) until the daemon confirms the name, at most `timeoutMs`.
    bool waitEstablished(int timeoutMs = 10'000);
    QString output() const { return QString::fromUtf8(m_output); }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace pealix::test
