#include "platform/linux/http/extension_confinement.h"

#include "extension/relay/agent_url.h"
#include "platform/linux/http/listener_account.h"

namespace ostrela::linux_platform {

ConfinementPolicy extensionConfinementPolicy(const FilePreferenceStores& stores) {
  const std::filesystem::path managedFile = stores.managedFile();
  ConfinementPolicy policy;
  // $XDG_CONFIG_HOME/ostrela: own preferences in preferences/, App Groups in
  // group-containers/. /proc/self/net for the listener check's fallback: a rule
  // on procfs holds for a folder only, its files being made anew at each open.
  policy.readableFolders = {managedFile.parent_path(), stores.ownFile().parent_path().parent_path(),
                            "/proc/self/net"};
  // A forced file may be a link to a file elsewhere: the rule is for the file that the
  // trusted walk opened, never for where a link leads that the walk refused.
  std::error_code ec;
  if (std::filesystem::is_symlink(managedFile, ec)) {
    if (FileDescriptor file = stores.openManagedFile(); file.valid()) {
      policy.readableOpenedFiles.push_back(std::move(file));
    }
  }
  // glibc reads the time zone at the first time stamp, although UTC stamps need
  // nothing from it: a refusal would put a denial in the audit log at every start.
  policy.readableFiles.push_back("/etc/localtime");
  policy.connectPort = kAgentPort;
  return policy;
}

ConfinementLevel confineExtensionProcess(const FilePreferenceStores& stores, const Logger& logger,
                                         int landlockAbi, Refusals refusals) {
  lookUpAgentServiceAccount();
  const ConfinementLevel level =
      confineProcess(extensionConfinementPolicy(stores), landlockAbi, refusals);
  if (logger.isEnabled(LogLevel::debug)) {
    logger.log(LogLevel::debug, "Confined: %{public}s", {describeConfinement(level).c_str()});
  }
  return level;
}

}  // namespace ostrela::linux_platform
