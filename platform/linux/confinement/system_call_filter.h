// The seccomp filter of a confined process: an allow-list of the calls it
// lives on (system_call_allow_list.cpp), with their arguments checked where
// they matter (sockets, clone, executable memory, prctl, limits). Every other
// call answers EPERM, and the kernel logs it.
#pragma once

namespace ostrela::linux_platform {

// What a refused call does.
enum class Refusals {
  answerEperm,
  // Test builds: the process ends with status 159, naming the call on stderr,
  // so that a test fails on any call the list lacks.
  reportAndExit,
};

// Installed with no_new_privs already set, on every thread of the process
// (SECCOMP_FILTER_FLAG_TSYNC), with the kernel's logging of refusals
// (SECCOMP_FILTER_FLAG_LOG). False when the kernel refuses it.
bool installSystemCallFilter(Refusals refusals = Refusals::answerEperm);

}  // namespace ostrela::linux_platform
