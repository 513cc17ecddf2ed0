#include "platform/linux/confinement/system_call_allow_list.h"

#include <linux/netlink.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {
namespace {

// One call the process lives on, by name (libseccomp finds its number on each
// architecture; a call an architecture lacks is left out), and why it needs it.
struct Entry {
  const char* name;
  const char* reason;
};

// Allowed whatever their arguments. The calls of every message (reads, writes,
// polling, futexes) are here, so the kernel's cache of always-allowed calls
// lets them through without running the filter.
constexpr Entry kAllowed[] = {
    {"read", "frames, preference files, sockets"},
    {"readv", "sockets (Asio)"},
    {"pread64", "files"},
    {"write", "replies, log lines, requests"},
    {"writev", "log lines, requests (Asio)"},
    {"close", "every descriptor"},
    {"openat", "preference files and folders; Landlock decides which"},
    {"open", "the same, where an architecture still has it"},
    {"newfstatat", "the trusted walk, preference files"},
    {"fstat", "the same"},
    {"statx", "the same, newer glibc"},
    {"fstatfs", "the trusted walk refuses FUSE"},
    {"readlinkat", "the trusted walk reads links"},
    {"lseek", "files"},
    {"getdents64", "folders"},
    {"fcntl", "descriptor flags"},
    {"dup", "descriptors"},
    {"poll", "waiting for input and sockets"},
    {"ppoll", "the same"},
    {"epoll_create1", "Asio's reactor"},
    {"epoll_ctl", "the same"},
    {"epoll_wait", "the same"},
    {"epoll_pwait", "the same"},
    {"eventfd2", "waking Asio's reactor"},
    {"timerfd_create", "Asio's timers"},
    {"timerfd_settime", "the same"},
    {"futex", "locks and condition variables"},
    {"set_robust_list", "every new thread"},
    {"rseq", "every new thread (glibc registers it)"},
    {"sched_yield", "spinning locks"},
    {"brk", "malloc"},
    {"munmap", "malloc, thread stacks"},
    {"mremap", "realloc of large blocks"},
    {"madvise", "malloc and thread stacks give memory back"},
    {"rt_sigaction", "signal set-up"},
    {"rt_sigprocmask", "threads block signals"},
    {"rt_sigreturn", "return from a signal handler"},
    {"sigaltstack", "threads"},
    {"connect", "the agent; Landlock decides the port"},
    {"getsockopt", "a connect's result, the listener check"},
    {"setsockopt", "socket options"},
    {"getsockname", "the listener check"},
    {"getpeername", "the listener check"},
    {"sendto", "requests, netlink, the journal"},
    {"recvfrom", "answers, netlink"},
    {"sendmsg", "requests, netlink, the journal"},
    {"recvmsg", "answers, netlink"},
    {"shutdown", "sockets"},
    {"bind", "the netlink socket; Landlock refuses TCP"},
    {"getpid", "log lines"},
    {"gettid", "log lines, locks"},
    {"getuid", "the listener check"},
    {"geteuid", "the listener check"},
    {"getgid", "the journal's credentials"},
    {"getegid", "the same"},
    {"clock_gettime", "time stamps, deadlines (where the vDSO does not answer)"},
    {"clock_nanosleep", "waiting"},
    {"nanosleep", "waiting"},
    {"getrandom", "hash seeds"},
    {"exit", "a thread ends"},
    {"exit_group", "the process ends"},
};

// Sanitizer builds only: what the sanitizers' runtime calls in a locked process.
constexpr Entry kSanitizerRuntime[] = {
    {"pipe2", "tests whether memory is readable by writing it to a pipe"},
    {"readlink", "reads /proc/self/exe to symbolise a report"},
    {"gettimeofday", "ThreadSanitizer's background thread reads the time by a system call"},
};

// Refused with their own errno, on purpose: callers fall back to another call.
constexpr Entry kNotImplemented[] = {
    // A filter cannot read clone3's flags, which are in memory: glibc then
    // starts threads with clone, whose flags it can read.
    {"clone3", "threads start with clone instead"},
};

bool add(scmp_filter_ctx filter, std::uint32_t action, const char* name,
         std::initializer_list<scmp_arg_cmp> arguments = {}) {
  const int number = seccomp_syscall_resolve_name(name);
  if (number == __NR_SCMP_ERROR) return true;  // not on this architecture
  return seccomp_rule_add_array(filter, action, number, static_cast<unsigned>(arguments.size()),
                                arguments.begin()) == 0;
}

// Allowed with these arguments only.
bool addChecked(scmp_filter_ctx filter) {
  constexpr std::uint64_t kSocketTypeMask = 0xF;  // without SOCK_NONBLOCK and SOCK_CLOEXEC
  constexpr std::uint64_t kThreadFlags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND |
                                         CLONE_THREAD | CLONE_SYSVSEM | CLONE_SETTLS |
                                         CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID;
  bool added = true;
  const auto allow = [&](const char* name, std::initializer_list<scmp_arg_cmp> arguments) {
    added &= add(filter, SCMP_ACT_ALLOW, name, arguments);
  };
  // TCP over IPv4 and IPv6 (the agent), protocol 0 or TCP: not MPTCP, which
  // Landlock's TCP rules do not cover.
  for (const scmp_datum_t family : {AF_INET, AF_INET6}) {
    for (const scmp_datum_t protocol : {0, int{IPPROTO_TCP}}) {
      allow("socket", {SCMP_A0(SCMP_CMP_EQ, family),
                       SCMP_A1(SCMP_CMP_MASKED_EQ, kSocketTypeMask, SOCK_STREAM),
                       SCMP_A2(SCMP_CMP_EQ, protocol)});
    }
  }
  // Unix datagrams: the journal.
  allow("socket",
        {SCMP_A0(SCMP_CMP_EQ, AF_UNIX), SCMP_A1(SCMP_CMP_MASKED_EQ, kSocketTypeMask, SOCK_DGRAM)});
  // Socket diagnostics: the listener check.
  allow("socket", {SCMP_A0(SCMP_CMP_EQ, AF_NETLINK), SCMP_A2(SCMP_CMP_EQ, NETLINK_SOCK_DIAG)});
  // Threads only: no fork, no new namespaces.
  allow("clone", {SCMP_A0(SCMP_CMP_EQ, kThreadFlags)});
  // No executable memory after the lock.
  allow("mmap", {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
  allow("mprotect", {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
  // Limits and scheduling of the process itself only (0: the caller).
  allow("prlimit64", {SCMP_A0(SCMP_CMP_EQ, 0)});
  allow("sched_getaffinity", {SCMP_A0(SCMP_CMP_EQ, 0)});
  // Asio makes sockets non-blocking and asks what is readable; stdio asks
  // whether a stream is a terminal. Not TIOCSTI, which types into one.
  for (const scmp_datum_t request : {FIONBIO, FIONREAD, FIOCLEX, TCGETS}) {
    allow("ioctl", {SCMP_A1(SCMP_CMP_EQ, request)});
  }
  // Reading the process's own state; never PR_SET_DUMPABLE.
  for (const scmp_datum_t option :
       {PR_GET_DUMPABLE, PR_GET_NO_NEW_PRIVS, PR_SET_NAME, PR_GET_NAME}) {
    allow("prctl", {SCMP_A0(SCMP_CMP_EQ, option)});
  }
  return added;
}

// libseccomp 2.5 writes the program to a descriptor only.
std::optional<std::vector<sock_filter>> exportProgram(scmp_filter_ctx filter) {
  const FileDescriptor file(::memfd_create("seccomp-program", MFD_CLOEXEC));
  if (!file.valid() || seccomp_export_bpf(filter, file.get()) != 0) return std::nullopt;
  const off_t size = ::lseek(file.get(), 0, SEEK_CUR);
  if (size <= 0 || size % sizeof(sock_filter) != 0) return std::nullopt;
  std::vector<sock_filter> program(static_cast<std::size_t>(size) / sizeof(sock_filter));
  if (::pread(file.get(), program.data(), static_cast<std::size_t>(size), 0) != size) {
    return std::nullopt;
  }
  return program;
}

}  // namespace

std::optional<std::vector<sock_filter>> allowListProgram(std::uint32_t refusal, bool sanitizers) {
  const scmp_filter_ctx filter = seccomp_init(refusal);
  if (filter == nullptr) return std::nullopt;
  bool built = true;
  // Calls of another ABI of the machine (x86's 32-bit and x32 calls) are refused too.
  built &= seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, refusal) == 0;
  // A binary tree of call numbers: fewer tests per call, and a quicker install.
  built &= seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2) == 0;
  for (const Entry& entry : kAllowed) built &= add(filter, SCMP_ACT_ALLOW, entry.name);
  for (const Entry& entry : kNotImplemented)
    built &= add(filter, SCMP_ACT_ERRNO(ENOSYS), entry.name);
  built &= addChecked(filter);
  if (sanitizers) {
    for (const Entry& entry : kSanitizerRuntime) built &= add(filter, SCMP_ACT_ALLOW, entry.name);
    // pthread_getattr_np asks for the calling thread's CPUs by its id, not by 0.
    built &= add(filter, SCMP_ACT_ALLOW, "sched_getaffinity");
  }
  std::optional<std::vector<sock_filter>> program;
  if (built) program = exportProgram(filter);
  seccomp_release(filter);
  return program;
}

}  // namespace ostrela::linux_platform
