// The seccomp filter of a confined process (x86-64): the system calls that
// start programs, reach into other processes, change what the process sees of
// the system or widen its kernel attack surface answer EPERM; the rest run.
#pragma once

#include <span>

namespace ostrela::linux_platform {

// Refused with EPERM: execve and execveat; ptrace, process_vm_readv and
// writev, process_madvise, pidfd_getfd, kcmp; mount and the other mount
// calls, chroot; bpf, perf_event_open, userfaultfd, io_uring; keyctl,
// add_key, request_key; personality; unshare, setns, and clone with any
// CLONE_NEW* flag; sockets other than TCP (IPv4 or IPv6), Unix datagram and
// NETLINK_SOCK_DIAG; ioctl TIOCSTI; module, kexec, reboot, swap and
// accounting calls. clone3 answers ENOSYS, as on a kernel without it, since
// a filter cannot read its flags in memory: glibc then uses clone. Calls of
// another architecture and x32 calls are refused.
//
// Installed with no_new_privs already set, on every thread of the process
// (SECCOMP_FILTER_FLAG_TSYNC). False when the kernel refuses it.
bool installSystemCallFilter();

// The numbers the filter refuses with EPERM outright (not clone, socket or
// ioctl, whose arguments decide), for tests to try each of them.
std::span<const int> refusedSystemCalls();

}  // namespace ostrela::linux_platform
