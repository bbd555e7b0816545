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

// Whether the task finished within ten seconds, and its result when it has one.
template <typename T> auto finish(QCoro::Task<T> &task)
{
    const bool ready = waitUntil([&task] { return task.isReady(); });
    if constexpr (std::is_void_v<T>)
        return ready;
    else
        return ready ? std::optional<T>(QCoro::waitFor(task)) : std::nullopt;
}

} // namespace pealix::test
