#include "extension/relay/relay_secret.h"

#include <gtest/gtest.h>

#include "shared/in_memory_preference_stores.h"
#include "shared/managed_configuration_key.h"

namespace ostrela {
namespace {

// Sent exactly as stored, read per message: agent_relay_test. Here what is never sent.
TEST(RelaySecret, NoSecretWhenEmptyNotAStringOrSuiteUnavailable) {
  InMemoryPreferenceStores stores;
  stores.suite = std::make_shared<InMemoryPreferenceDomain>();
  for (const AnyValue& value : {AnyValue(""), AnyValue(12345), AnyValue(true), AnyValue(Null{}),
                                AnyValue(AnyArray{AnyValue("x")})}) {
    stores.suite->setObjectForKey(value, kAgentRelaySecretKey);
    EXPECT_EQ(relaySecret(stores), std::nullopt);
  }
  stores.suite->setObjectForKey(AnyValue(" t0ken\t"), kAgentRelaySecretKey);
  EXPECT_EQ(relaySecret(stores), " t0ken\t");
  stores.suite = nullptr;
  EXPECT_EQ(relaySecret(stores), std::nullopt);
}

}  // namespace
}  // namespace ostrela
