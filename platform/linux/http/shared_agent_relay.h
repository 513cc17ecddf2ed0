// The process's one relay, as the executable's main wires it: built by its
// first use (the first relayed message), exactly once even when first uses
// race, and never destroyed, since detached tasks may still use it while the
// process exits. Until then the process has no relay, no socket and no
// worker thread; building it opens no socket and starts no thread either.
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
    std::call_once(once_, [this] { relay_ = new AgentRelay(baseURL_, stores_); });
    return *relay_;
  }

 private:
  std::optional<HttpUrl> baseURL_;
  std::shared_ptr<const PreferenceStores> stores_;
  mutable std::once_flag once_;
  mutable const AgentRelay* relay_ = nullptr;  // never deleted
};

}  // namespace ostrela::linux_platform
