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

// The peak resident memory, in KiB, of the largest process that this one has
// started and reaped, or that those have: once reaped, a process's
// /proc/<pid>/status is gone, so the kernel's account (getrusage) tells it.
long largestReapedChildPeak();

// The most a tool or host under test may hold, in KiB. The programs are built like the
// tests: sanitizers keep freed memory in quarantine and shadow all of it, so under them the
// bound only proves that memory stops growing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr long kPeakMemoryBoundKiB = 1024 * 1024;
#else
inline constexpr long kPeakMemoryBoundKiB = 64 * 1024;
#endif

}  // namespace ostrela::testing
