// What OstrelaExtension keeps once it is set up: reading its preference
// folders and what the agent's listener check reads, a TCP connection to the
// agent's port, the netlink and journal sockets. See docs/security.md.
#pragma once

#include "core/logger.h"
#include "platform/linux/confinement/process_confinement.h"
#include "platform/linux/preferences/file_preference_stores.h"

namespace ostrela::linux_platform {

// The forced-preferences folder (and the file its link leads to, when the
// forced file is a link that the trusted walk followed), the user's ostrela/ folder of own
// preferences and App Group stores, /proc/self/net (for /proc/net/tcp and tcp6), /etc/localtime;
// TCP connect to the agent's port.
ConfinementPolicy extensionConfinementPolicy(const FilePreferenceStores& stores);

// Looks up what the process will need from elsewhere (the agent's service
// account), then confines it to `extensionConfinementPolicy(stores)` and says
// at debug level which level is in force. On the main thread, before any other
// thread starts and before the first message is read.
ConfinementLevel confineExtensionProcess(const FilePreferenceStores& stores, const Logger& logger,
                                         int landlockAbi = kKernelsLandlockAbi,
                                         Refusals refusals = Refusals::answerEperm);

}  // namespace ostrela::linux_platform
