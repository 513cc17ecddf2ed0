// OstrelaExtension: the browser's native-messaging host. Browsers start it
// with the caller's origin (Chromium family) or the manifest path and the
// extension's id (Firefox) as arguments; it needs none of them.
#include <unistd.h>

#include <cstdio>

#include "extension/safari_web_extension_handler.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/native_messaging/native_messaging_host.h"
#include "platform/linux/native_messaging/pooled_agent_relay_tasks.h"
#include "platform/linux/process_loggers.h"
#include "shared/bundle_identifiers.h"

int main() {
  using namespace ostrela;
  using namespace ostrela::linux_platform;
  const int protocolOutput = takeProtocolOutput();
  // Forced values only from root's files in the installed folder; an ignored one is logged.
  const FilePreferenceStores stores(XdgDirectories::fromEnvironment(),
                                    {.logger = &extensionLogger()}, extensionBundleIdentifier);
  PooledAgentRelayTasks relayTasks(&AgentRelay::shared);
  const SafariWebExtensionHandler handler(stores, extensionLogger(), relayTasks);
  const int status =
      runNativeMessagingHost(STDIN_FILENO, protocolOutput, handler, extensionLogger());
  // Worker threads may still be parked in the pool: leave without tearing it down.
  std::fflush(stderr);
  ::_exit(status);
}
