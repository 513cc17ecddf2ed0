#include "platform/linux/process_setup.h"

#include <malloc.h>
#include <sys/resource.h>

#include <csignal>

namespace ostrela::linux_platform {

void ignoreBrokenPipeSignal() {
  std::signal(SIGPIPE, SIG_IGN);
}

void raiseDescriptorLimitToHardLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

void shareOneMallocArena() {
  ::mallopt(M_ARENA_MAX, 1);
}

}  // namespace ostrela::linux_platform
