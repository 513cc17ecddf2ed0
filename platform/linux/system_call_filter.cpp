#include "platform/linux/system_call_filter.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrela::linux_platform {

#if defined(__x86_64__)
namespace {

constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW;
constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | EPERM;
constexpr std::uint32_t kNotImplemented = SECCOMP_RET_ERRNO | ENOSYS;
constexpr std::uint32_t kX32Bit = 0x40000000;  // __X32_SYSCALL_BIT
constexpr std::uint32_t kNewNamespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS |
                                             CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID |
                                             CLONE_NEWNET;
constexpr std::uint32_t kSocketTypeMask = 0xF;  // without SOCK_NONBLOCK and SOCK_CLOEXEC

constexpr int kRefused[] = {
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

sock_filter statement(std::uint16_t code, std::uint32_t k) {
  return BPF_STMT(code, k);
}
sock_filter jumpIfEqual(std::uint32_t value, std::uint8_t skipIfEqual, std::uint8_t skipIfNot) {
  return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, skipIfEqual, skipIfNot);
}
sock_filter returning(std::uint32_t action) {
  return statement(BPF_RET | BPF_K, action);
}
// The low 32 bits of argument `index`: all that an int or flags argument holds.
sock_filter loadArgument(int index) {
  return statement(BPF_LD | BPF_W | BPF_ABS,
                   static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * index));
}
sock_filter loadSocketType() {
  return loadArgument(1);
}

class Program {
 public:
  void add(sock_filter instruction) { code_.push_back(instruction); }
  void refuse(int number, std::uint32_t action = kRefuse) {
    add(jumpIfEqual(static_cast<std::uint32_t>(number), 0, 1));
    add(returning(action));
  }
  // `block` runs for system call `number` and ends in returns only.
  void whenCalling(int number, const std::vector<sock_filter>& block) {
    add(jumpIfEqual(static_cast<std::uint32_t>(number), 0,
                    static_cast<std::uint8_t>(block.size())));
    code_.insert(code_.end(), block.begin(), block.end());
  }
  sock_fprog program() { return {static_cast<unsigned short>(code_.size()), code_.data()}; }

 private:
  std::vector<sock_filter> code_;
};

// With the family loaded: allows `family` sockets of `type` only, and goes
// past itself for other families.
std::vector<sock_filter> socketsOf(std::uint32_t family, std::uint32_t type) {
  return {jumpIfEqual(family, 0, 5),
          loadSocketType(),
          statement(BPF_ALU | BPF_AND | BPF_K, kSocketTypeMask),
          jumpIfEqual(type, 0, 1),
          returning(kAllow),
          returning(kRefuse)};
}

std::vector<sock_filter> socketRules() {
  std::vector<sock_filter> block{loadArgument(0)};  // the family
  for (const auto& rule : {socketsOf(AF_INET, SOCK_STREAM), socketsOf(AF_INET6, SOCK_STREAM),
                           socketsOf(AF_UNIX, SOCK_DGRAM)}) {
    block.insert(block.end(), rule.begin(), rule.end());
  }
  // The socket-diagnostics netlink socket only; the family is still loaded.
  const std::vector<sock_filter> netlink{jumpIfEqual(AF_NETLINK, 0, 3), loadArgument(2),
                                         jumpIfEqual(NETLINK_SOCK_DIAG, 0, 1), returning(kAllow),
                                         returning(kRefuse)};
  block.insert(block.end(), netlink.begin(), netlink.end());
  return block;
}

}  // namespace

bool installSystemCallFilter() {
  Program filter;
  filter.add(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
  filter.add(jumpIfEqual(AUDIT_ARCH_X86_64, 1, 0));
  filter.add(returning(kRefuse));
  filter.add(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
  filter.add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kX32Bit, 0, 1));
  filter.add(returning(kRefuse));
  for (const int number : kRefused) filter.refuse(number);
  filter.refuse(__NR_clone3, kNotImplemented);
  // Threads and fork are clones without CLONE_NEW* flags.
  filter.whenCalling(
      __NR_clone, {loadArgument(0), BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kNewNamespaceFlags, 0, 1),
                   returning(kRefuse), returning(kAllow)});
  filter.whenCalling(__NR_socket, socketRules());
  // TIOCSTI would type commands into the terminal the process was started from.
  filter.whenCalling(__NR_ioctl, {loadArgument(1), jumpIfEqual(TIOCSTI, 0, 1), returning(kRefuse),
                                  returning(kAllow)});
  filter.add(returning(kAllow));
  sock_fprog program = filter.program();
  return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

#else

bool installSystemCallFilter() {
  return false;  // the filter is written for x86-64's system call numbers
}

#endif

}  // namespace ostrela::linux_platform
