#pragma once

#include "model/Speaker.h"

#include <QCoro/QCoroTask>
#include <QList>

namespace pealix {

// One Cast discovery on a fresh ChromecastDiscovery, for the speaker store.
QCoro::Task<QList<Speaker>> discoverCastSpeakers(double timeoutSeconds);

} // namespace pealix
