#include "house/ProcessStats.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThread>

#include <malloc.h>
#include <unistd.h>

// Qt's hooks for tools that watch objects come and go (the debugger GammaRay
// uses them); they are exported, though their header is private.
extern quintptr Q_CORE_EXPORT qtHookData[];

namespace pealix::test {

namespace {

// The positions in qtHookData, fixed by Qt for outside tools.
constexpr int kAddObjectHook = 3;
constexpr int kRemoveObjectHook = 4;

QMutex g_lock;
QSet<QObject *> *g_objects = nullptr;

void added(QObject *object)
{
    const QMutexLocker locker(&g_lock);
    g_objects->insert(object);
}

void removed(QObject *object)
{
    const QMutexLocker locker(&g_lock);
    g_objects->remove(object);
}

} // namespace

void countObjects()
{
    g_objects = new QSet<QObject *>; // lives as long as the process, like the hooks
    qtHookData[kAddObjectHook] = reinterpret_cast<quintptr>(&added);
    qtHookData[kRemoveObjectHook] = reinterpret_cast<quintptr>(&removed);
}

ProcessStats processStats()
{
    ProcessStats stats;
    stats.descriptors =
        int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly))
        stats.residentKiB = statm.readAll().split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
    stats.heapKiB = qint64(mallinfo2().uordblks / 1024);
    if (!g_objects)
        return stats;
    const QMutexLocker locker(&g_lock);
    stats.objects = g_objects->size();
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    for (QObject *object : std::as_const(*g_objects)) {
        if (object->thread() != QThread::currentThread())
            continue;
        ++stats.classes[object->metaObject()->className()];
        if (dispatcher)
            stats.timers += dispatcher->registeredTimers(object).size();
    }
    return stats;
}

} // namespace pealix::test
