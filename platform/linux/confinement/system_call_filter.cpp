#include "platform/linux/confinement/system_call_filter.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ostrela::linux_platform {

#if defined(__x86_64__)
namespace {

constexpr std::uint32_t kX32Bit = 0x40000000;  // __X32_SYSCALL_BIT
constexpr std::uint32_t kNewNamespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS |
                                             CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID |
                                             CLONE_NEWNET;
constexpr std::uint32_t kSocketTypeMask = 0xF;  // without SOCK_NONBLOCK and SOCK_CLOEXEC

constexpr std::array kRefused = {
    __NR_execve,
    __NR_execveat,
    __NR_ptrace,
    __NR_process_vm_readv,
    __NR_process_vm_writev,
    __NR_process_madvise,
    __NR_pidfd_getfd,
    __NR_kcmp,
    __NR_mount,
    __NR_umount2,
    __NR_pivot_root,
    __NR_chroot,
    __NR_open_tree,
    __NR_move_mount,
    __NR_fsopen,
    __NR_fsconfig,
    __NR_fsmount,
    __NR_fspick,
    __NR_mount_setattr,
    __NR_bpf,
    __NR_perf_event_open,
    __NR_userfaultfd,
    __NR_io_uring_setup,
    __NR_io_uring_enter,
    __NR_io_uring_register,
    __NR_keyctl,
    __NR_add_key,
    __NR_request_key,
    __NR_personality,
    __NR_unshare,
    __NR_setns,
    __NR_init_module,
    __NR_finit_module,
    __NR_delete_module,
    __NR_kexec_load,
    __NR_kexec_file_load,
    __NR_reboot,
    __NR_swapon,
    __NR_swapoff,
    __NR_acct,
};

// Classic BPF with labels: a jump names the instruction it goes to.
class Assembler {
 public:
  static constexpr int kNext = -1;

  int label() {
    labels_.push_back(-1);
    return static_cast<int>(labels_.size()) - 1;
  }
  // `label` names the next instruction.
  void place(int label) { labels_[static_cast<std::size_t>(label)] = here(); }
  void statement(std::uint16_t code, std::uint32_t k) {
    lines_.push_back({BPF_STMT(code, k), kNext, kNext});
  }
  void jump(std::uint16_t code, std::uint32_t k, int ifTrue, int ifFalse) {
    lines_.push_back({BPF_JUMP(BPF_JMP | code | BPF_K, k, 0, 0), ifTrue, ifFalse});
  }
  void load(std::size_t offset) {
    statement(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offset));
  }
  // The low 32 bits of argument `index`: all that an int or flags argument holds.
  void loadArgument(int index) { load(offsetof(seccomp_data, args) + 8 * index); }

  // Nothing when a jump is too long for classic BPF.
  std::optional<std::vector<sock_filter>> program() const {
    std::vector<sock_filter> code;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      sock_filter instruction = lines_[i].code;
      const auto offset = [&](int target, std::uint8_t& field) {
        if (target == kNext) return true;
        const int distance = labels_[static_cast<std::size_t>(target)] - static_cast<int>(i) - 1;
        field = static_cast<std::uint8_t>(distance);
        return distance >= 0 && distance <= 255;
      };
      if (!offset(lines_[i].ifTrue, instruction.jt) || !offset(lines_[i].ifFalse, instruction.jf)) {
        return std::nullopt;
      }
      code.push_back(instruction);
    }
    return code;
  }

 private:
  struct Line {
    sock_filter code;
    int ifTrue;
    int ifFalse;
  };
  int here() const { return static_cast<int>(lines_.size()); }
  std::vector<Line> lines_;
  std::vector<int> labels_;
};

// System calls from `first` to `last` go to `target`.
struct Interval {
  std::uint32_t first;
  std::uint32_t last;
  int target;
};

// With the system call number loaded, a binary search of `intervals`
// (sorted, disjoint); a number in none of them is allowed. Installing a filter
// runs it in the kernel for every system call number (to find those it always
// allows), which costs in proportion to the tests a number passes on its way:
// 8 in a search of the 23 intervals, against 30 in a list of them.
void search(Assembler& a, const Interval* intervals, std::size_t count, int allow) {
  if (count == 1) {
    const Interval& only = *intervals;
    if (only.first == only.last) {
      a.jump(BPF_JEQ, only.first, only.target, allow);
    } else {
      a.jump(BPF_JGE, only.first, Assembler::kNext, allow);
      a.jump(BPF_JGT, only.last, allow, only.target);
    }
    return;
  }
  const std::size_t half = count / 2;
  const int upper = a.label();
  a.jump(BPF_JGE, intervals[half].first, upper, Assembler::kNext);
  search(a, intervals, half, allow);
  a.place(upper);
  search(a, intervals + half, count - half, allow);
}

// kRefused as runs of neighbouring numbers going to `refuse`, with `special`.
std::vector<Interval> intervalsOf(int refuse, const std::vector<Interval>& special) {
  std::array sorted = kRefused;
  std::sort(sorted.begin(), sorted.end());
  std::vector<Interval> intervals = special;
  for (std::size_t first = 0; first < sorted.size();) {
    std::size_t last = first;
    while (last + 1 < sorted.size() && sorted[last + 1] == sorted[last] + 1) ++last;
    intervals.push_back({static_cast<std::uint32_t>(sorted[first]),
                         static_cast<std::uint32_t>(sorted[last]), refuse});
    first = last + 1;
  }
  std::sort(intervals.begin(), intervals.end(),
            [](const Interval& x, const Interval& y) { return x.first < y.first; });
  return intervals;
}

// socket(): TCP over IPv4 or IPv6, Unix datagrams (the journal) and
// NETLINK_SOCK_DIAG only.
void allowOnlyOurSockets(Assembler& a, int allow, int refuse) {
  const int tcp = a.label(), unixDatagram = a.label(), diag = a.label();
  a.loadArgument(0);
  a.jump(BPF_JEQ, AF_INET, tcp, Assembler::kNext);
  a.jump(BPF_JEQ, AF_INET6, tcp, Assembler::kNext);
  a.jump(BPF_JEQ, AF_UNIX, unixDatagram, Assembler::kNext);
  a.jump(BPF_JEQ, AF_NETLINK, diag, refuse);
  a.place(tcp);
  a.loadArgument(1);
  a.statement(BPF_ALU | BPF_AND | BPF_K, kSocketTypeMask);
  a.jump(BPF_JEQ, SOCK_STREAM, allow, refuse);
  a.place(unixDatagram);
  a.loadArgument(1);
  a.statement(BPF_ALU | BPF_AND | BPF_K, kSocketTypeMask);
  a.jump(BPF_JEQ, SOCK_DGRAM, allow, refuse);
  a.place(diag);
  a.loadArgument(2);
  a.jump(BPF_JEQ, NETLINK_SOCK_DIAG, allow, refuse);
}

std::optional<std::vector<sock_filter>> filterProgram() {
  Assembler a;
  const int allow = a.label(), refuse = a.label(), notImplemented = a.label();
  const int clone = a.label(), socket = a.label(), ioctl = a.label();
  a.load(offsetof(seccomp_data, arch));
  a.jump(BPF_JEQ, AUDIT_ARCH_X86_64, Assembler::kNext, refuse);
  a.load(offsetof(seccomp_data, nr));
  a.jump(BPF_JGE, kX32Bit, refuse, Assembler::kNext);
  const std::vector<Interval> intervals =
      intervalsOf(refuse, {{__NR_clone3, __NR_clone3, notImplemented},
                           {__NR_clone, __NR_clone, clone},
                           {__NR_socket, __NR_socket, socket},
                           {__NR_ioctl, __NR_ioctl, ioctl}});
  search(a, intervals.data(), intervals.size(), allow);
  // Threads and fork are clones without CLONE_NEW* flags.
  a.place(clone);
  a.loadArgument(0);
  a.jump(BPF_JSET, kNewNamespaceFlags, refuse, allow);
  a.place(socket);
  allowOnlyOurSockets(a, allow, refuse);
  // TIOCSTI would type commands into the terminal the process was started from.
  a.place(ioctl);
  a.loadArgument(1);
  a.jump(BPF_JEQ, TIOCSTI, refuse, allow);
  a.place(allow);
  a.statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
  a.place(refuse);
  a.statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM);
  a.place(notImplemented);
  a.statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS);
  return a.program();
}

}  // namespace

bool installSystemCallFilter() {
  std::optional<std::vector<sock_filter>> code = filterProgram();
  if (!code) return false;
  sock_fprog program{static_cast<unsigned short>(code->size()), code->data()};
  return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

std::span<const int> refusedSystemCalls() {
  return kRefused;
}

#else

bool installSystemCallFilter() {
  return false;  // the filter is written for x86-64's system call numbers
}

std::span<const int> refusedSystemCalls() {
  return {};
}

#endif

}  // namespace ostrela::linux_platform
