#include "hotkey/KeyEventSource.h"

namespace pealix {

// Built without X11: only our own windows' keys can be watched.
std::unique_ptr<KeyEventSource> createSystemKeyEventSource()
{
    return nullptr;
}

} // namespace pealix
