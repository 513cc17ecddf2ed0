// The process's one relay, as the executable's main wires it: built by its
// first use (the first relayed message), exactly once even when first uses
// race, and kept as long as this object. The executable's main never returns
// (it leaves with _exit while detached tasks may still run), so there it is
// never destroyed. Until its first use the process has no relay, no socket
// and no worker thread; building it opens no socket and starts no thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "extension/relay/agent_url.h"
#include "platform/linux/http/agent_relay.h"
#include "shared/preference_domain.h"

namespace ostrela::linux_platform {

class SharedAgentRelay {
 public:
  // `stores` are the process's own (the App Group suite gives the secret).
  SharedAgentRelay(std::optional<HttpUrl> baseURL, std::shared_ptr<const PreferenceStores> stores)
      : baseURL_(std::move(baseURL)), stores_(std::move(stores)) {}
  SharedAgentRelay(const SharedAgentRelay&) = delete;
  SharedAgentRelay& operator=(const SharedAgentRelay&) = delete;

  // Any thread.
  const AgentRelay& get() const {
    std::call_once(once_,
                   [this] { relay_ = std::make_unique<const AgentRelay>(baseURL_, stores_); });
    return *relay_;
  }

 private:
  std::optional<HttpUrl> baseURL_;
  std::shared_ptr<const PreferenceStores> stores_;
  mutable std::once_flag once_;
  mutable std::unique_ptr<const AgentRelay> relay_;
};

}  // namespace ostrela::linux_platform
