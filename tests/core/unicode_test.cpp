#include "core/unicode.h"

#include <gtest/gtest.h>

namespace ostrela::unicode {
namespace {

TEST(Graphemes, CountUserPerceivedCharactersNotBytesOrCodePoints) {
  EXPECT_EQ(graphemeCount(""), 0u);
  EXPECT_EQ(graphemeCount("abc"), 3u);
  EXPECT_EQ(graphemeCount("e\u0301"), 1u);                         // e + combining acute
  EXPECT_EQ(graphemeCount("a\u0308\u0323b"), 2u);                  // stacked marks
  EXPECT_EQ(graphemeCount("\U0001F469\u200D\U0001F4BB"), 1u);      // ZWJ sequence
  EXPECT_EQ(graphemeCount("\U0001F1EB\U0001F1F7\U0001F1E9"), 2u);  // flag + lone indicator
  EXPECT_EQ(graphemeCount("\r\n"), 1u);
  EXPECT_EQ(graphemeCount("\xff\xfe"), 2u);  // invalid bytes count one by one
}

TEST(Graphemes, PrefixNeverSplitsACluster) {
  EXPECT_EQ(graphemePrefix("e\u0301e\u0301e\u0301", 2), "e\u0301e\u0301");
  EXPECT_EQ(graphemePrefix("abc", 5), "abc");
  EXPECT_EQ(graphemePrefix("abc", 0), "");
}

TEST(Nfc, ComposesCanonicalSequences) {
  EXPECT_EQ(toNfc("e\u0301"), "\u00e9");
  EXPECT_EQ(toNfc("\u00e9"), "\u00e9");
  EXPECT_EQ(toNfc("\xff"), "\xff");
}

// UTF-8 validation is checked where it matters, on the JSON reader and writer.

}  // namespace
}  // namespace ostrela::unicode
