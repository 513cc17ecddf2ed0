// The Landlock step of confineProcess (process_confinement.h).
#pragma once

#include "platform/linux/confinement/process_confinement.h"

namespace ostrela::linux_platform {

// Restricts the calling thread, and threads it starts later, to `policy`,
// with every access right that ABI `abi` knows of handled. Needs
// no_new_privs. Returns the ABI in force: `abi`, or 0 when the kernel
// refused the ruleset.
int restrictWithLandlock(const ConfinementPolicy& policy, int abi);

}  // namespace ostrela::linux_platform
