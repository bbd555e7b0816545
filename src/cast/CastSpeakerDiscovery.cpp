#include "cast/CastSpeakerDiscovery.h"

#include "cast/ChromecastDiscovery.h"

namespace pealix {

QCoro::Task<QList<Speaker>> discoverCastSpeakers(double timeoutSeconds)
{
    // Lives in this coroutine's frame, so exactly as long as the discovery runs.
    ChromecastDiscovery discovery;
    co_return co_await discovery.discover(timeoutSeconds);
}

} // namespace pealix
