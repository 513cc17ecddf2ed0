#include "host/configuration_publisher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shared/in_memory_preference_domain.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

using ::testing::IsEmpty;

AnyMap allSixKeys() {
  return AnyMap{{"endpoint", "https://config.example"},
                {"apiToken", "token-1"},
                {"organizationName", "Example Org"},
                {"organizationId", "org-17"},
                {"enabledServices", AnyArray{"ldap", "", "scrub"}},
                {"machineId", "machine-9"}};
}

std::shared_ptr<InMemoryPreferenceDomain> forcing(const AnyMap& values) {
  auto domain = std::make_shared<InMemoryPreferenceDomain>();
  for (const auto& [key, value] : values) domain->force(key, value);
  return domain;
}

std::string successLine(int count) {
  return "Published and read back " + std::to_string(count) + " managed key(s) via the App Group";
}

// Records every write and each batch, and drops the writes to `droppedKey`.
struct LossyDomain : InMemoryPreferenceDomain {
  std::optional<PreferenceStoreUnavailable> applyChanges(
      const std::vector<PreferenceChange>& changes) override {
    writes.push_back("batch");
    std::vector<PreferenceChange> kept;
    for (const PreferenceChange& change : changes) {
      writes.push_back((change.value ? "set " : "remove ") + change.key);
      if (change.key != droppedKey) kept.push_back(change);
    }
    return InMemoryPreferenceDomain::applyChanges(kept);
  }
  std::vector<std::string> writes;
  std::string droppedKey;
};

class PublisherTest : public ::testing::Test {
 protected:
  AnyMap publish(const std::shared_ptr<ManagedPreferenceDomain>& managed,
                 const std::shared_ptr<MutablePreferenceDomain>& appGroup) {
    return publishManagedConfiguration(managed, appGroup, logger_);
  }
  // The one line logged, as "<level> <message>".
  std::string onlyLine() const {
    const auto lines = sink_.lines();
    EXPECT_EQ(lines.size(), 1u);
    if (lines.empty()) return "";
    return (lines[0].level == LogLevel::error ? "error " : "debug ") + lines[0].message;
  }

  testing::RecordingLogSink sink_;
  Logger logger_{"com.ostrela.safari-extension", "managed-config", sink_, {.debugEnabled = true}};
  std::shared_ptr<InMemoryPreferenceDomain> appGroup_ =
      std::make_shared<InMemoryPreferenceDomain>();
};

// Which keys are published, and what the extension reads back: file_publication_test.
// Nothing usable forced: every configuration key is removed, other entries are kept.
TEST_F(PublisherTest, NothingUsableForcedRemovesEveryConfigurationKeyButKeepsOtherEntries) {
  // The host's own, unforced values do not count.
  auto unforced = std::make_shared<InMemoryPreferenceDomain>(allSixKeys(),
                                                             std::set<std::string, std::less<>>{});
  auto unacceptable = forcing({{"organizationName", ""},
                               {"organizationId", 42},
                               {"enabledServices", AnyArray{"ldap", 7}},
                               {"machineId", AnyArray{"not", "a", "string"}}});
  unacceptable->force("endpoint", std::nullopt);  // forced with no value
  for (const auto& managed : {unforced, unacceptable}) {
    for (const auto& [key, value] : allSixKeys()) appGroup_->setObjectForKey(value, key);
    appGroup_->setObjectForKey(AnyValue("s3cret"), "agentRelaySecret");
    appGroup_->setObjectForKey(AnyValue(true), "somethingElse");
    EXPECT_THAT(publish(managed, appGroup_), IsEmpty());
    EXPECT_EQ(appGroup_->dictionaryRepresentation(),
              (AnyMap{{"agentRelaySecret", "s3cret"}, {"somethingElse", true}}));
  }
  EXPECT_EQ(sink_.messages(), std::vector<std::string>(2, successLine(0)));
}

TEST_F(PublisherTest, WritesOrRemovesAllSixKeysInDeclarationOrderInOneBatchEveryTime) {
  auto lossless = std::make_shared<LossyDomain>();
  auto managed = forcing({{"machineId", "m"}, {"organizationName", "o"}, {"apiToken", "t"}});
  publish(managed, lossless);
  publish(managed, lossless);  // the same values are written again

  const std::vector<std::string> once{"batch",
                                      "remove endpoint",
                                      "remove apiToken",
                                      "set organizationName",
                                      "remove organizationId",
                                      "remove enabledServices",
                                      "set machineId"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(lossless->writes, twice);
}

TEST_F(PublisherTest, UnavailableAppGroupLogsOnlyTheUnavailableLine) {
  const AnyMap published = publish(forcing({{"organizationId", "org-1"}}), nullptr);
  EXPECT_EQ(published, (AnyMap{{"organizationId", "org-1"}}));
  EXPECT_EQ(onlyLine(),
            "error Managed configuration not published: the App Group "
            "K7W2RQ9D4F.group.com.ostrela.safari-extension is unavailable");
}

// The dropped write leaves an old value behind, so the counts of keys alone would agree.
TEST_F(PublisherTest, StoreThatDropsAWriteLogsTheMismatch) {
  auto lossy = std::make_shared<LossyDomain>();
  lossy->setObjectForKey(AnyValue("org-0"), "organizationId");
  lossy->droppedKey = "organizationId";
  publish(forcing({{"organizationName", "o"}, {"organizationId", "org-1"}}), lossy);
  EXPECT_EQ(onlyLine(),
            "error App Group bridge mismatch: published 2 managed key(s) to "
            "K7W2RQ9D4F.group.com.ostrela.safari-extension but read back 1");
}

}  // namespace
}  // namespace ostrela
