#pragma once

#include <QObject>

class QSocketNotifier;

namespace pealix::house {

// Turns SIGINT, SIGTERM and SIGHUP into one `requested` signal on the event
// loop. The handler only writes a byte to a pipe, all a handler may safely do.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

Q_SIGNALS:
    void requested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pealix::house
