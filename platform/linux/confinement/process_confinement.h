// A process that gives up, once its set-up is done, every right it will not
// need: what it may read, where it may connect, which system calls it may
// make. Uses only what the kernel offers an unprivileged process (Landlock,
// seccomp, prctl), as far as the running kernel offers it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/confinement/system_call_filter.h"
#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {

// What the process keeps. Everything else about files and TCP is refused:
// no writing, making, removing or executing anywhere, no TCP bind.
struct ConfinementPolicy {
  // Files beneath these folders may be read and the folders listed.
  std::vector<std::filesystem::path> readableFolders;
  // These files may be read.
  std::vector<std::filesystem::path> readableFiles;
  // And these, already opened (by a walk that checked the way to them).
  std::vector<FileDescriptor> readableOpenedFiles;
  // The one TCP port it may connect to, on any address.
  std::optional<std::uint16_t> connectPort;
};

// What is in force after `confineProcess`.
struct ConfinementLevel {
  int landlockAbi = 0;        // 0: no Landlock rules
  bool networkRules = false;  // TCP connect and bind rules (Landlock ABI 4 and later)
  bool seccomp = false;       // the system call filter, on every thread
};

// The Landlock ABI version of the running kernel; 0 when it has no Landlock
// or it is turned off.
int kernelLandlockAbi();

// Whether the running kernel takes a seccomp filter that answers with an errno.
bool kernelTakesSeccompFilters();

// Landlock as far as the running kernel offers it.
inline constexpr int kKernelsLandlockAbi = 1 << 30;

// Confines the process for good: no new privileges, not dumpable (so other
// processes of the account can neither attach to it nor read its memory; the
// price is that it leaves no core dump), Landlock with the rules of `policy`
// as far as ABI `landlockAbi` goes (never beyond the kernel's), then the
// system call filter (system_call_filter.h) on every thread. A step the
// kernel does not offer is left out; the process runs on either way.
//
// Landlock binds the calling thread and the threads it starts afterwards
// only: call it before the process starts any thread.
ConfinementLevel confineProcess(const ConfinementPolicy& policy,
                                int landlockAbi = kKernelsLandlockAbi,
                                Refusals refusals = Refusals::answerEperm);

// "Landlock ABI 7 (files and TCP), seccomp filter", "no Landlock, seccomp filter", ...
std::string describeConfinement(const ConfinementLevel& level);

}  // namespace ostrela::linux_platform
