#pragma once

#include <QCoro/QCoroTask>

#include <vector>

namespace pealix::net {

// QCoro tasks start running when they are created, so tasks made one after the
// other already run side by side; awaiting them in turn just collects them all.
template <typename T>
QCoro::Task<std::vector<T>> whenAll(std::vector<QCoro::Task<T>> tasks)
{
    std::vector<T> results;
    results.reserve(tasks.size());
    for (auto &task : tasks)
        results.push_back(co_await task);
    co_return results;
}

inline QCoro::Task<> whenAll(std::vector<QCoro::Task<>> tasks)
{
    for (auto &task : tasks)
        co_await task;
}

} // namespace pealix::net
