#include "extension/relay/relay_secret.h"

#include <gtest/gtest.h>

#include "shared/in_memory_preference_domain.h"
#include "shared/managed_configuration_key.h"

namespace ostrela {
namespace {

// Hands out one in-memory App Group suite, or none, and counts the openings.
class FakeStores : public PreferenceStores {
 public:
  std::shared_ptr<InMemoryPreferenceDomain> suite = std::make_shared<InMemoryPreferenceDomain>();
  mutable int openings = 0;

  std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const override { return nullptr; }
  std::shared_ptr<ManagedPreferenceDomain> suiteForReading(std::string_view name) const override {
    ++openings;
    return name == appGroupSuiteName ? suite : nullptr;
  }
  std::shared_ptr<MutablePreferenceDomain> suiteForWriting(std::string_view) const override {
    return nullptr;
  }
};

TEST(RelaySecret, StringExactlyAsStoredReadAnewEveryCall) {
  FakeStores stores;
  EXPECT_EQ(relaySecret(stores), std::nullopt);
  stores.suite->setObjectForKey(AnyValue(" t0ken\t"), kAgentRelaySecretKey);
  EXPECT_EQ(relaySecret(stores), " t0ken\t");
  stores.suite->setObjectForKey(AnyValue("rotated"), kAgentRelaySecretKey);
  EXPECT_EQ(relaySecret(stores), "rotated");
  EXPECT_EQ(stores.openings, 3);
}

TEST(RelaySecret, NoSecretWhenEmptyNotAStringOrSuiteUnavailable) {
  FakeStores stores;
  for (const AnyValue& value : {AnyValue(""), AnyValue(12345), AnyValue(true), AnyValue(Null{}),
                                AnyValue(AnyArray{AnyValue("x")})}) {
    stores.suite->setObjectForKey(value, kAgentRelaySecretKey);
    EXPECT_EQ(relaySecret(stores), std::nullopt);
  }
  stores.suite->setObjectForKey(AnyValue("s"), kAgentRelaySecretKey);
  stores.suite = nullptr;
  EXPECT_EQ(relaySecret(stores), std::nullopt);
}

}  // namespace
}  // namespace ostrela
