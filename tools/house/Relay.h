#pragma once

namespace pealix::house {

// The house's binary run as "pealix-house --relay [--drop UID GID USER |
// --nested UID GID] -- PROGRAM [ARGUMENT...]": what stands between the house
// and each of its children. It makes a pid namespace whose first process
// starts PROGRAM, passes the ending signals down, and ends with PROGRAM's
// status. The house started it with the parent-death signal set, the first
// process and PROGRAM get the same, so the death of the house takes down the
// relay, then the namespace's first process, and with it the whole namespace.
// --drop runs PROGRAM as that user (the house ran under sudo); --nested puts
// it in one more user namespace in which it has the person's own ids.
int runRelay(int argc, char **argv);

} // namespace pealix::house
