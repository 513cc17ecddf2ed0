// What the kernel's Landlock interface has beyond ABI 2, which is all that
// Debian 12's headers (Linux 6.1) describe. Values as in the kernel's
// include/uapi/linux/landlock.h; an older kernel refuses none of them when
// they are only asked for at the ABI that introduced them.
#pragma once

#include <linux/landlock.h>
#include <sys/syscall.h>

#include <cstdint>

namespace ostrela::linux_platform::landlock {

// landlock_create_ruleset()'s argument as of ABI 6. An older kernel takes the
// larger structure as long as the fields it does not know are zero.
struct RulesetAttr {
  std::uint64_t handledAccessFs = 0;
  std::uint64_t handledAccessNet = 0;  // ABI 4
  std::uint64_t scoped = 0;            // ABI 6
};

// ABI 3: truncating a file (truncate(2), O_TRUNC).
inline constexpr std::uint64_t kAccessFsTruncate = 1ULL << 14;
// ABI 5: ioctl(2) on character and block devices opened after the lock.
inline constexpr std::uint64_t kAccessFsIoctlDev = 1ULL << 15;

// ABI 4: rules on TCP ports.
inline constexpr int kRuleNetPort = 2;
struct NetPortAttr {
  std::uint64_t allowedAccess = 0;
  std::uint64_t port = 0;
};
inline constexpr std::uint64_t kAccessNetBindTcp = 1ULL << 0;
inline constexpr std::uint64_t kAccessNetConnectTcp = 1ULL << 1;

// ABI 6: no connecting to abstract Unix sockets, and no signals, outside the domain.
inline constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;
inline constexpr std::uint64_t kScopeSignal = 1ULL << 1;

}  // namespace ostrela::linux_platform::landlock
