#include "engine/PreciseWait.h"

#include "net/OneShot.h"

#include <QTimer>

namespace pealix {

QCoro::Task<> waitPrecisely(std::chrono::milliseconds duration)
{
    net::OneShot<bool> elapsed;
    QTimer::singleShot(duration, Qt::PreciseTimer, [elapsed] { elapsed.complete(true); });
    co_await elapsed;
}

} // namespace pealix
