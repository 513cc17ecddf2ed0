#include "platform/linux/confinement/landlock_rules.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "platform/linux/confinement/landlock_abi.h"
#include "platform/linux/file_descriptor.h"

namespace ostrela::linux_platform {
namespace {

// Every file access right that ABI `abi` can refuse.
std::uint64_t fileAccessesOf(int abi) {
  std::uint64_t handled = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // ABI 1
  if (abi >= 2) handled |= LANDLOCK_ACCESS_FS_REFER;
  if (abi >= 3) handled |= landlock::kAccessFsTruncate;
  if (abi >= 5) handled |= landlock::kAccessFsIoctlDev;
  return handled;
}

// Read access beneath the folder (`folder`) or to the file that `fd` is.
bool addReadRule(int ruleset, int fd, bool folder) {
  landlock_path_beneath_attr rule{};
  rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | (folder ? LANDLOCK_ACCESS_FS_READ_DIR : 0);
  rule.parent_fd = fd;
  return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

// The same through `path`, kept open in `opened`. A path that is not there, or
// not a folder where one is meant, gets no rule: there is nothing to read.
bool addReadRule(int ruleset, const std::filesystem::path& path, bool folder,
                 std::vector<FileDescriptor>& opened) {
  FileDescriptor fd(::open(path.c_str(), O_PATH | O_CLOEXEC | (folder ? O_DIRECTORY : 0)));
  if (!fd.valid()) return true;
  opened.push_back(std::move(fd));
  return addReadRule(ruleset, opened.back().get(), folder);
}

}  // namespace

int restrictWithLandlock(const ConfinementPolicy& policy, int abi) {
  if (abi < 1) return 0;
  landlock::RulesetAttr attributes;
  attributes.handledAccessFs = fileAccessesOf(abi);
  if (abi >= 4) {
    attributes.handledAccessNet = landlock::kAccessNetBindTcp | landlock::kAccessNetConnectTcp;
  }
  if (abi >= 6) {
    attributes.scoped = landlock::kScopeAbstractUnixSocket | landlock::kScopeSignal;
  }
  const FileDescriptor ruleset(
      static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
  if (!ruleset.valid()) return 0;
  bool added = true;
  std::vector<FileDescriptor> opened;
  for (const auto& folder : policy.readableFolders) {
    added &= addReadRule(ruleset.get(), folder, true, opened);
  }
  for (const auto& file : policy.readableFiles) {
    added &= addReadRule(ruleset.get(), file, false, opened);
  }
  for (const FileDescriptor& file : policy.readableOpenedFiles) {
    added &= addReadRule(ruleset.get(), file.get(), false);
  }
  if (abi >= 4 && policy.connectPort) {
    landlock::NetPortAttr port{landlock::kAccessNetConnectTcp, *policy.connectPort};
    added &= ::syscall(SYS_landlock_add_rule, ruleset.get(), landlock::kRuleNetPort, &port, 0) == 0;
  }
  // Without a rule the kernel refused, the lock would refuse what the policy
  // keeps: the process goes without Landlock instead (the filter still applies).
  if (!added) return 0;
  if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) return 0;
  // A rule holds on to an inode, and a path finds the same inode again as long
  // as its entry stays in the kernel's cache. On disk it always does; procfs
  // makes a fresh inode for an entry looked up anew (/proc/self/net/tcp at every
  // open), so the rules' paths are held open for good.
  for (FileDescriptor& fd : opened) fd.release();
  return abi;
}

}  // namespace ostrela::linux_platform
