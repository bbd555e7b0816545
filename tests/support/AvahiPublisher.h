#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QString>

#include <memory>

namespace pealix::test {

// One DNS-SD service announced by an avahi-publish-service child process,
// withdrawn by ending that process (by its PID) when this object goes.
// Only for use inside the mDNS sandbox.
class AvahiPublisher
{
public:
    // Starts publishing; `host` empty means this machine's own name.
    AvahiPublisher(const QString &name, const QString &type, quint16 port, const QByteArrayList &txt = {},
                   const QString &host = {});
    ~AvahiPublisher();
    AvahiPublisher(const AvahiPublisher &) = delete;
    AvahiPublisher &operator=(const AvahiPublisher &) = delete;

    // Blocks (test set-up only) until the daemon confirms the name, at most `timeoutMs`.
    bool waitEstablished(int timeoutMs = 10'000);
    QString output() const { return QString::fromUtf8(m_output); }

private:
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
};

} // namespace pealix::test
