#include "platform/linux/confinement/system_call_filter.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <iterator>

namespace ostrela::linux_platform {
namespace {

// The allow-list as libseccomp made it when this program was built, refusing with EPERM.
constexpr sock_filter kProgram[] = {
#include "system_call_filter_program.inc"
};
constexpr std::uint32_t kRefusal = SECCOMP_RET_ERRNO | EPERM;

// Async-signal-safe: "refused system call 62\n" on stderr, then the end.
void reportRefusal(int, siginfo_t* info, void*) {
  char line[64] = "refused system call ";
  char* end = line + sizeof "refused system call " - 1;
  char digits[12];
  int count = 0;
  for (unsigned number = static_cast<unsigned>(info->si_syscall); count == 0 || number != 0;
       number /= 10) {
    digits[count++] = static_cast<char>('0' + number % 10);
  }
  while (count > 0) *end++ = digits[--count];
  *end++ = '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, end - line);
  ::_exit(128 + SIGSYS);
}

}  // namespace

bool installSystemCallFilter(Refusals refusals) {
  std::array<sock_filter, std::size(kProgram)> code;
  std::copy(std::begin(kProgram), std::end(kProgram), code.begin());
  if (refusals == Refusals::reportAndExit) {
    struct sigaction action {};
    action.sa_sigaction = reportRefusal;
    action.sa_flags = SA_SIGINFO;
    ::sigaction(SIGSYS, &action, nullptr);
    for (sock_filter& instruction : code) {
      if (instruction.code == (BPF_RET | BPF_K) && instruction.k == kRefusal) {
        instruction.k = SECCOMP_RET_TRAP;
      }
    }
  }
  const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
  return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                   SECCOMP_FILTER_FLAG_TSYNC | SECCOMP_FILTER_FLAG_LOG, &program) == 0;
}

}  // namespace ostrela::linux_platform
