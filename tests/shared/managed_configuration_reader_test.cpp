#include "shared/managed_configuration_reader.h"

#include <gtest/gtest.h>

#include "core/json.h"
#include "shared/in_memory_preference_domain.h"

namespace ostrela {
namespace {

using Key = ManagedConfigurationKey;

AnyValue strings(std::initializer_list<const char*> items) {
  AnyArray array;
  for (const char* item : items) array.emplace_back(item);
  return AnyValue(std::move(array));
}

TEST(NormalizedValue, AcceptsOnlyTheDocumentedShapes) {
  EXPECT_EQ(normalizedValue(AnyValue("x"), Key::organizationId), AnyValue("x"));
  EXPECT_FALSE(normalizedValue(AnyValue(""), Key::organizationId));
  EXPECT_FALSE(normalizedValue(AnyValue(42), Key::organizationId));
  EXPECT_FALSE(normalizedValue(AnyValue(true), Key::machineId));
  EXPECT_FALSE(normalizedValue(AnyValue(Date{}), Key::machineId));
  EXPECT_FALSE(normalizedValue(strings({"a"}), Key::machineId));
  EXPECT_FALSE(normalizedValue(std::nullopt, Key::machineId));

  EXPECT_EQ(normalizedValue(strings({}), Key::enabledServices), strings({}));
  EXPECT_EQ(normalizedValue(strings({"a", ""}), Key::enabledServices), strings({"a", ""}));
  EXPECT_FALSE(normalizedValue(AnyValue("a"), Key::enabledServices));
  EXPECT_FALSE(
      normalizedValue(AnyValue(AnyArray{AnyValue("a"), AnyValue(1)}), Key::enabledServices));
}

class Reader : public ::testing::Test {
 protected:
  std::shared_ptr<InMemoryPreferenceDomain> forced = std::make_shared<InMemoryPreferenceDomain>();
  std::shared_ptr<InMemoryPreferenceDomain> group = std::make_shared<InMemoryPreferenceDomain>();
  AnyMap config() const { return ManagedConfigurationReader(forced, group).managedConfiguration(); }
};

// Keys come out in declaration order, whatever order they were set in.
TEST_F(Reader, ForcedValuesWinAndOnlyBridgeableKeysFallBack) {
  forced->force("enabledServices", AnyValue(AnyArray{AnyValue("a"), AnyValue(1)}));
  forced->force("endpoint", AnyValue("https://e"));
  forced->force("apiToken", AnyValue(""));          // unacceptable, forced only
  forced->force("organizationName", AnyValue(""));  // unacceptable, falls back
  forced->force("organizationId", AnyValue("forced-id"));
  group->setObjectForKey(AnyValue("group-token"), "apiToken");
  group->setObjectForKey(AnyValue("Group Org"), "organizationName");
  group->setObjectForKey(AnyValue("group-id"), "organizationId");
  group->setObjectForKey(strings({"x"}), "enabledServices");

  EXPECT_EQ(
      encodeJson(AnyValue(config())),
      R"({"endpoint":"https://e","organizationName":"Group Org","organizationId":"forced-id",)"
      R"("enabledServices":["x"]})");
}

TEST_F(Reader, UnforcedValuesOfTheOwnDomainAreNeverUsed) {
  EXPECT_TRUE(ManagedConfigurationReader(nullptr, nullptr).managedConfiguration().empty());
  forced->setObjectForKey(AnyValue("own-machine"), "machineId");
  forced->setObjectForKey(AnyValue("own-endpoint"), "endpoint");
  EXPECT_TRUE(config().empty());
  group->setObjectForKey(AnyValue("group-endpoint"), "endpoint");
  EXPECT_TRUE(config().empty());
}

TEST_F(Reader, ForcedEmptyListIsAValueAndStopsTheFallback) {
  forced->force("enabledServices", strings({}));
  group->setObjectForKey(strings({"x"}), "enabledServices");
  EXPECT_EQ(config(), (AnyMap{{"enabledServices", strings({})}}));
}

TEST_F(Reader, WithoutAForcedDomainOnlyTheFourBridgeableKeysResolve) {
  for (Key key : allManagedConfigurationKeys) group->setObjectForKey(AnyValue("v"), keyString(key));
  group->setObjectForKey(strings({}), "enabledServices");
  const auto map = ManagedConfigurationReader(nullptr, group).managedConfiguration();
  EXPECT_EQ(map, (AnyMap{{"organizationName", "v"},
                         {"organizationId", "v"},
                         {"enabledServices", strings({})},
                         {"machineId", "v"}}));
}

}  // namespace
}  // namespace ostrela
