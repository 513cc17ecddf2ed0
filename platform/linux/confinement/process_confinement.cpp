#include "platform/linux/confinement/process_confinement.h"

#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/linux/confinement/landlock_abi.h"
#include "platform/linux/confinement/landlock_rules.h"
#include "platform/linux/confinement/system_call_filter.h"

namespace ostrela::linux_platform {

int kernelLandlockAbi() {
  const long abi =
      ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

bool kernelTakesSeccompFilters() {
  std::uint32_t action = SECCOMP_RET_ERRNO;
  return ::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

ConfinementLevel confineProcess(const ConfinementPolicy& policy, int landlockAbi,
                                Refusals refusals) {
  ConfinementLevel level;
  // Both filters need it; it also keeps setuid programs from running with privileges.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return level;
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  level.landlockAbi = restrictWithLandlock(policy, std::min(landlockAbi, kernelLandlockAbi()));
  level.networkRules = level.landlockAbi >= 4;
  level.seccomp = installSystemCallFilter(refusals);
  return level;
}

std::string describeConfinement(const ConfinementLevel& level) {
  std::string text = level.landlockAbi == 0
                         ? "no Landlock"
                         : "Landlock ABI " + std::to_string(level.landlockAbi) +
                               (level.networkRules ? " (files and TCP)" : " (files only)");
  return text + (level.seccomp ? ", seccomp filter" : ", no seccomp filter");
}

}  // namespace ostrela::linux_platform
