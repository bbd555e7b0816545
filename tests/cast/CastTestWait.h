#pragma once

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTimer>

#include <chrono>
#include <optional>

namespace pealix::test {

// Runs the event loop until `done()` holds or `limit` has passed; true when it held.
// Every wake-up is an event (socket, timer), never a fixed sleep.
template <typename Condition>
bool waitUntil(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(limit);
    while (!done() && watchdog.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// The task's result, or none when it has not finished within `limit`.
template <typename T>
std::optional<T> finish(QCoro::Task<T> &task, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    if (!waitUntil([&task] { return task.isReady(); }, limit))
        return std::nullopt;
    return QCoro::waitFor(task);
}

inline bool finish(QCoro::Task<> &task, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    return waitUntil([&task] { return task.isReady(); }, limit);
}

} // namespace pealix::test
