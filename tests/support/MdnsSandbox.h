#pragma once

#include <QString>

namespace pealix::test {

// Why this process is not inside a sandbox namespace made by a wrapper script
// that sets the environment variable `marker` to 1 (loopback only, another
// namespace than process 1's); empty when it is. Anything that multicasts asks first.
QString sandboxRefusal(const char *marker);

} // namespace pealix::test
