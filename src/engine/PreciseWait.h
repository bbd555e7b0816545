#pragma once

#include <QCoro/QCoroTask>

#include <chrono>

namespace pealix {

// Waits `duration` on the event loop with a precise timer: a device's hold is
// promised in milliseconds, which a coarse timer may cut short by 5 %.
QCoro::Task<> waitPrecisely(std::chrono::milliseconds duration);

} // namespace pealix
