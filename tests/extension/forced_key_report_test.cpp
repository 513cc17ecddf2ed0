#include "extension/forced_key_report.h"

#include <gtest/gtest.h>

#include "core/unicode.h"
#include "shared/in_memory_preference_domain.h"

namespace ostrela {
namespace {

using Keys = std::vector<std::string>;

class Report : public ::testing::Test {
 protected:
  std::shared_ptr<InMemoryPreferenceDomain> forced = std::make_shared<InMemoryPreferenceDomain>();
  ForcedKeyReport report() const {
    return forcedKeyReport(ManagedConfigurationReader(forced, nullptr));
  }
};

TEST_F(Report, KnownAndSystemKeysAreNotReportedButNearMissesAre) {
  for (const char* key : {"endpoint", "AppleLanguages", "NSFoo", "com.apple.something", "WebKitBar",
                          "_private", "Endpoint", "apple.foo", "nsFoo"}) {
    forced->force(key, AnyValue(1));
  }
  forced->force("endpoint", AnyValue(7));  // known, even with an unacceptable value
  EXPECT_EQ(report().unrecognizedForcedKeys, (Keys{"Endpoint", "apple.foo", "nsFoo"}));
}

TEST_F(Report, OnlyForcedKeysCountAndOnlyAnEnvelopeKeyWithAValueMarksDoubleWrapping) {
  forced->setObjectForKey(AnyValue("x"), "PayloadType");  // not forced
  forced->setObjectForKey(AnyValue("x"), "misspelt");
  forced->force("mcx_preference_settings", std::nullopt);  // forced with no value
  ForcedKeyReport r = report();
  EXPECT_TRUE(r.unrecognizedForcedKeys.empty());
  EXPECT_FALSE(r.isDoubleWrappedProfile);

  forced->force("PayloadContent", AnyValue(AnyArray{}));
  r = report();
  EXPECT_TRUE(r.isDoubleWrappedProfile);
  EXPECT_EQ(r.unrecognizedForcedKeys, Keys{"PayloadContent"});
  // Without a forced domain there is nothing to report.
  r = forcedKeyReport(ManagedConfigurationReader(nullptr, forced));
  EXPECT_TRUE(r.unrecognizedForcedKeys.empty());
  EXPECT_FALSE(r.isDoubleWrappedProfile);
}

TEST_F(Report, KeepsTheTwelveThatSortFirstByScalarValue) {
  for (int i = 0; i < 20; ++i) {
    forced->force("key" + std::string(1, static_cast<char>('t' - i)), AnyValue(i));
  }
  forced->force("Zulu", AnyValue(1));
  forced->force("alpha", AnyValue(1));
  // Uppercase sorts before lowercase.
  EXPECT_EQ(report().unrecognizedForcedKeys,
            (Keys{"Zulu", "alpha", "keya", "keyb", "keyc", "keyd", "keye", "keyf", "keyg", "keyh",
                  "keyi", "keyj"}));
}

TEST_F(Report, SortsCanonicallyEquivalentFormsAlike) {
  forced->force("e\u0301z", AnyValue(1));  // decomposed é, NFC U+00E9
  forced->force("\u00e9a", AnyValue(1));
  forced->force("f", AnyValue(1));
  EXPECT_EQ(report().unrecognizedForcedKeys, (Keys{"f", "\u00e9a", "e\u0301z"}));
}

TEST_F(Report, LongKeysAreShortenedByUserPerceivedCharacters) {
  const std::string eighty(80, 'a');
  const std::string eightyOne = std::string(80, 'b') + "c";
  std::string combining;
  for (int i = 0; i < 100; ++i) combining += "e\u0301\u0323";
  forced->force(eighty, AnyValue(1));
  forced->force(eightyOne, AnyValue(1));
  forced->force(combining, AnyValue(1));

  const auto keys = report().unrecognizedForcedKeys;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], eighty);
  EXPECT_EQ(keys[1], std::string(79, 'b') + "\u2026");
  EXPECT_EQ(unicode::graphemeCount(keys[2]), 80u);
  EXPECT_TRUE(keys[2].ends_with("e\u0301\u0323\u2026"));
}

TEST_F(Report, CapAppliesToFullKeysBeforeShortening) {
  // Twelve long keys that share their first 79 characters, and one short key after them.
  for (char c = 'a'; c < 'a' + 13; ++c) forced->force(std::string(90, 'x') + c, AnyValue(1));
  forced->force("y", AnyValue(1));
  const auto keys = report().unrecognizedForcedKeys;
  ASSERT_EQ(keys.size(), 12u);
  for (const auto& key : keys) EXPECT_EQ(key, std::string(79, 'x') + "\u2026");
}

}  // namespace
}  // namespace ostrela
