#include "hotkey/KeyEventSource.h"

namespace pealix {

// Built without X11: on an X session only our own windows' keys can be watched.
std::unique_ptr<KeyEventSource> createX11KeyEventSource()
{
    return nullptr;
}

} // namespace pealix
