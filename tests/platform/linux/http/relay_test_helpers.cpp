#include "tests/platform/linux/http/relay_test_helpers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "core/json.h"
#include "extension/relay/relay_secret.h"
#include "shared/managed_configuration_key.h"

namespace ostrela::testing {

constexpr const char* kExtensionDomain = "com.ostrela.safari-extension.extension";

AgentRelayRequest relayRequest(std::string type, std::optional<AnyValue> id) {
  const bool redaction = type == "scrub";
  AnyMap message{{"type", type}, {"host", std::string(redaction ? kRedactionHost : kIdentityHost)}};
  if (id) message.set("id", *id);
  message.set("payload", AnyMap{{"text", "caf\xC3\xA9 \"quoted\""}});
  return AgentRelayRequest{std::move(id),
                           redaction ? AgentRelayBudget::redaction : AgentRelayBudget::identity,
                           *encodeJson(message), std::nullopt};
}

NativeReply sendAndWait(linux_platform::WorkerPool& pool, const linux_platform::AgentRelay& relay,
                        AgentRelayRequest request) {
  auto promise = std::make_shared<std::promise<NativeReply>>();
  std::future<NativeReply> reply = promise->get_future();
  pool.spawnDetached(
      [&relay, promise, request = std::move(request)]() -> boost::asio::awaitable<void> {
        promise->set_value(co_await relay.send(request));
      });
  return reply.get();
}

std::string errorText(const NativeReply& reply) {
  const AnyValue* error = reply.payload.find("error");
  return error && error->isString() ? *error->asString() : "<none>";
}

RelayPreferences::RelayPreferences()
    : pool_(std::make_unique<linux_platform::WorkerPool>()),
      stores_(std::make_shared<linux_platform::FilePreferenceStores>(
          linux_platform::XdgDirectories{folder_.path() / "config"},
          linux_platform::ManagedPreferencesSource{folder_.path() / "managed", false},
          kExtensionDomain)) {}

void RelayPreferences::writeSecret(const AnyValue& secret) const {
  stores_->suiteForWriting(appGroupSuiteName)->setObjectForKey(secret, kAgentRelaySecretKey);
}

std::unique_ptr<linux_platform::AgentRelay> RelayPreferences::relayFor(
    std::uint16_t port, std::optional<double> budget) const {
  using linux_platform::AgentRelay;
  const AgentUrl url(port);
  if (!budget) return std::make_unique<AgentRelay>(*pool_, url, stores_);
  return std::make_unique<AgentRelay>(url, stores_, AgentRelay::makeSession(*pool_, *budget),
                                      AgentRelay::makeSession(*pool_, *budget));
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

std::uint16_t unusedPort() {
  std::uint16_t port = 0;
  ::close(loopbackListener(1, port));
  return port;
}

}  // namespace ostrela::testing
