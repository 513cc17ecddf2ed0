/* The lock of OstrelaExtension for the minimal hosts, so that its kernel cost
 * is in their floor too: no new privileges, not dumpable, the same Landlock
 * rules (the preference folders, /proc/self/net, /etc/localtime, TCP to the
 * agent's port) as far as the kernel goes, and the same seccomp program. */
#include "minimal_lock.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

static const struct sock_filter program[] = {
#include "system_call_filter_program.inc"
};

struct ruleset_attr { /* as of Landlock ABI 6 */
  uint64_t fs, net, scoped;
};
struct net_port_attr {
  uint64_t access, port;
};

static void read_rule(int ruleset, const char* path, int folder) {
  int fd = open(path, O_PATH | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return;
  struct landlock_path_beneath_attr rule = {
      .allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | (folder ? LANDLOCK_ACCESS_FS_READ_DIR : 0),
      .parent_fd = fd};
  syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
}

static void landlock(void) {
  long abi = syscall(SYS_landlock_create_ruleset, NULL, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 1) return;
  struct ruleset_attr attributes = {.fs = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1};
  if (abi >= 2) attributes.fs |= LANDLOCK_ACCESS_FS_REFER;
  if (abi >= 3) attributes.fs |= 1ULL << 14; /* truncate */
  if (abi >= 5) attributes.fs |= 1ULL << 15; /* device ioctls */
  if (abi >= 4) attributes.net = 3;          /* TCP bind and connect */
  if (abi >= 6) attributes.scoped = 3;       /* abstract sockets and signals */
  int ruleset = (int)syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0);
  if (ruleset < 0) return;
  char own[4096];
  const char* config = getenv("XDG_CONFIG_HOME");
  snprintf(own, sizeof own, "%s/ostrela", config ? config : "/nonexistent");
  read_rule(ruleset, OSTRELA_MANAGED_PREFERENCES_DIR, 1);
  read_rule(ruleset, own, 1);
  read_rule(ruleset, "/proc/self/net", 1);
  read_rule(ruleset, "/etc/localtime", 0);
  if (abi >= 4) {
    struct net_port_attr port = {2 /* connect */, 47653};
    syscall(SYS_landlock_add_rule, ruleset, 2 /* net port */, &port, 0);
  }
  syscall(SYS_landlock_restrict_self, ruleset, 0);
}

void lock_like_the_extension(void) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return;
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  landlock();
  struct sock_fprog fprog = {sizeof program / sizeof program[0], (struct sock_filter*)program};
  syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC | SECCOMP_FILTER_FLAG_LOG,
          &fprog);
}
