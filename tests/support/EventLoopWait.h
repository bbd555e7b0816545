#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <functional>

namespace pealix::test {

// Runs the event loop until `done` holds or `limit` has passed; the answer is
// `done` at the end. A timer wakes the loop now and then so the limit is
// noticed even when nothing else happens.
inline bool processEventsUntil(const std::function<bool()> &done,
                               std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    QDeadlineTimer deadline(limit);
    QTimer wake;
    wake.start(std::chrono::milliseconds(25));
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace pealix::test
