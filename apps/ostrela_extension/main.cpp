// OstrelaExtension: the browser's native-messaging host. Browsers start it
// with the caller's origin (Chromium family) or the manifest path and the
// extension's id (Firefox) as arguments; it needs none of them.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "extension/relay/agent_url.h"
#include "extension/safari_web_extension_handler.h"
#include "platform/linux/http/agent_relay.h"
#include "platform/linux/http/extension_confinement.h"
#include "platform/linux/http/pooled_agent_relay_tasks.h"
#include "platform/linux/http/worker_pool.h"
#include "platform/linux/native_messaging/native_messaging_host.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "platform/linux/process_loggers.h"
#include "platform/linux/process_setup.h"
#include "shared/bundle_identifiers.h"

int main() {
  using namespace ostrela;
  using namespace ostrela::linux_platform;
  ignoreBrokenPipeSignal();
  raiseDescriptorLimitToHardLimit();
  shareOneMallocArena();
  const int protocolOutput = takeProtocolOutput();
  // One set of preference stores: the requests' readers and the relay's secret.
  // Forced values only from root's files in the installed folder; an ignored one is logged.
  const auto stores = std::make_shared<const FilePreferenceStores>(
      XdgDirectories::fromEnvironment(), ManagedPreferencesSource{.logger = &extensionLogger()},
      extensionBundleIdentifier);
  // From here on it reads its preference folders and connects to the agent, nothing more;
  // before the first frame and before the pool's first thread, which inherits the lock.
  confineExtensionProcess(*stores, extensionLogger(), kKernelsLandlockAbi,
#ifdef OSTRELA_FATAL_REFUSALS  // test builds: a call the lock refuses ends the process, named
                          Refusals::reportAndExit);
#else
                          Refusals::answerEperm);
#endif
  // The relay to the agent at its fixed address, on a pool of worker threads. Making them
  // opens nothing and starts no thread: the first relayed message starts the pool's first
  // thread, so a process that relays nothing has none.
  WorkerPool pool;
  const AgentRelay relay(pool, AgentUrl(), stores);
  PooledAgentRelayTasks relayTasks(pool, relay, extensionLogger());
  const SafariWebExtensionHandler handler(*stores, extensionLogger(), relayTasks);
  const int status =
      runNativeMessagingHost(STDIN_FILENO, protocolOutput, handler, extensionLogger());
  // Relays may still be in flight on the pool's threads: leave without tearing it down.
  std::fflush(stderr);
  ::_exit(status);
}
