#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <map>

namespace pealix::test {

// What a long run of announcements must not pile up.
struct ProcessStats
{
    int descriptors = 0;    // open file descriptors
    qint64 residentKiB = 0; // resident memory
    qint64 heapKiB = 0;     // allocated from the heap and not freed yet
    qint64 objects = 0;     // live QObjects, in every thread
    qint64 timers = 0;      // timers registered on the main thread
    // Live QObjects of the main thread by class, to name what piles up.
    std::map<QByteArray, qint64> classes;
};

// Starts counting QObjects; call before the application object exists.
void countObjects();
ProcessStats processStats();

} // namespace pealix::test
