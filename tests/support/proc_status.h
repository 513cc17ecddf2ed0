// What the kernel says of a running process, for tests and benchmarks that
// measure the extension from outside.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace ostrela::testing {

// The number in a line of /proc/<pid>/status, such as "VmHWM" (peak resident
// memory in KiB) or "Threads"; -1 when the process or the line is not there.
long procStatusValue(pid_t pid, std::string_view field);

// The process's open descriptors (/proc/<pid>/fd); 0 when it is not there.
long descriptorCount(pid_t pid);

}  // namespace ostrela::testing
