#include "core/logger.h"

#include <gtest/gtest.h>

#include "tests/support/recording_log_sink.h"

namespace ostrela {
namespace {

TEST(LogFormat, PublicArgumentsPrintAndPrivateOnesAreRedacted) {
  const char* format = "%{public}s '%{public}s': %{private}s (%{public}ld)";
  EXPECT_EQ(formatLogMessage(format, {"Relayed", "scrub", "secret", std::int64_t{-4}}, false),
            "Relayed 'scrub': <private> (-4)");
  EXPECT_EQ(formatLogMessage(format, {"Relayed", "scrub", "secret", std::int64_t{-4}}, true),
            "Relayed 'scrub': secret (-4)");
}

TEST(LogFormat, MissingArgumentsAndPercentSignsDoNotCrash) {
  EXPECT_EQ(formatLogMessage("%{public}s and %{public}s", {"one"}, false), "one and ");
  EXPECT_EQ(formatLogMessage("100%% done", {}, false), "100% done");
  EXPECT_EQ(formatLogMessage("%{public}s", {static_cast<const char*>(nullptr)}, false), "(null)");
}

// A label from the browser must not end the line, forge another or hide its tail.
TEST(LogFormat, ControlCharactersAreEscapedAndNulsKept) {
  using namespace std::string_view_literals;
  const std::pair<std::string_view, std::string> cases[] = {
      {"getLdap", "getLdap"},
      {"x\n2026-01-01T00:00:00.000Z com.ostrela[native-bridge] error: forged"sv,
       "x\\n2026-01-01T00:00:00.000Z com.ostrela[native-bridge] error: forged"},
      {"a\0b"sv, "a\\u0000b"},
      {"\r\t\x1b[31m\x7f"sv, "\\u000d\\u0009\\u001b[31m\\u007f"},
      {"\xc2\x9b"
       "2J caf\xc3\xa9 \xc2\xa0"sv,
       "\\u009b2J caf\xc3\xa9 \xc2\xa0"},
  };
  for (const auto& [label, escaped] : cases) {
    EXPECT_EQ(escapeControlCharacters(formatLogMessage("%{public}s", {label}, false)), escaped);
  }
}

TEST(Logger, DebugLinesAreWrittenOnlyWhenEnabled) {
  testing::RecordingLogSink sink;
  Logger quiet("sub", "cat", sink, LogSettings{false, false});
  quiet.log(LogLevel::debug, "%{public}s", {"hidden"});
  quiet.log(LogLevel::error, "%{public}s", {"shown"});
  Logger verbose("sub", "cat", sink, LogSettings{true, false});
  verbose.log(LogLevel::debug, "%{public}s", {"debug"});

  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, "shown");
  EXPECT_EQ(lines[0].level, LogLevel::error);
  EXPECT_EQ(lines[1].message, "debug");
  EXPECT_EQ(lines[1].subsystem, "sub");
  EXPECT_EQ(lines[1].category, "cat");
}

}  // namespace
}  // namespace ostrela
