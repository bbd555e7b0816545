#pragma once

#include <QString>

namespace pealix::test {

// True only inside the namespace that tests/discovery/mdns-sandbox.sh makes:
// loopback interfaces only, another network namespace than process 1's, and
// the sandbox's own system bus. Anything that multicasts checks this first.
bool insideMdnsSandbox(QString *reason = nullptr);

} // namespace pealix::test
