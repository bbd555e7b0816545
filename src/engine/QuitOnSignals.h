#pragma once

#include <QObject>

class QSocketNotifier;

namespace pealix {

// Ends the event loop at once on SIGINT or SIGTERM. The handler only writes a
// byte to a pipe (all a signal handler may safely do); the event loop reads it.
class QuitOnSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pealix
