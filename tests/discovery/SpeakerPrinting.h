#pragma once

#include "model/Speaker.h"

#include <ostream>

namespace pealix {

// Readable speakers in test failure messages.
inline void PrintTo(const Speaker &speaker, std::ostream *out)
{
    *out << speaker.id.toStdString() << " \"" << speaker.name.toStdString() << "\" "
         << speaker.host.toStdString() << ":" << speaker.port;
}

} // namespace pealix
