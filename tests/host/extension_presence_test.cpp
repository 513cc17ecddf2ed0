// The browsers' records of the extension, judged from their text alone.
#include "host/extension_presence.h"

#include <gtest/gtest.h>

namespace ostrela {
namespace {

const std::vector<std::string> kIds{"abcdefghijklmnopabcdefghijklmnop", "ostrela@example.com"};

std::string name(std::optional<RecordedState> state) {
  if (!state) return "unparsable";
  return *state == RecordedState::enabled    ? "enabled"
         : *state == RecordedState::disabled ? "disabled"
                                             : "absent";
}

TEST(ExtensionPresence, ChromiumProfilePreferences) {
  const auto settings = [](const std::string& record) {
    return R"({"extensions":{"settings":{"abcdefghijklmnopabcdefghijklmnop":)" + record + "}}}";
  };
  const std::vector<std::pair<std::string, std::string>> cases{
      {settings(R"({"state":1,"disable_reasons":0})"), "enabled"},
      {settings(R"({"location":1})"), "enabled"},
      {settings(R"({"disable_reasons":[]})"), "enabled"},
      {settings(R"({"state":0})"), "disabled"},
      {settings(R"({"disable_reasons":1})"), "disabled"},
      {settings(R"({"disable_reasons":[1]})"), "disabled"},
      {settings(R"("not a record")"), "absent"},
      {R"({"extensions":{"settings":{"pppppppppppppppppppppppppppppppp":{"state":1}}}})", "absent"},
      {"\xEF\xBB\xBF{}", "unparsable"},
      {R"({"extensions":{},})", "unparsable"},
      {"[]", "unparsable"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(name(chromiumRecordedState(text, kIds)), expected) << text;
  }
}

TEST(ExtensionPresence, FirefoxExtensionsJson) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {R"({"addons":[{"id":"other@x","active":true},{"id":"ostrela@example.com","active":true}]})",
       "enabled"},
      {R"({"addons":[{"id":"ostrela@example.com","active":false,"userDisabled":true}]})",
       "disabled"},
      {R"({"addons":[{"id":"ostrela@example.com","active":"yes"}]})", "disabled"},
      {R"({"addons":[{"id":"other@x","active":true}, 7]})", "absent"},
      {R"({"schemaVersion":36})", "unparsable"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(name(firefoxRecordedState(text, kIds)), expected) << text;
  }
}

TEST(ExtensionPresence, FirefoxProfilesIniAndTheIdsFile) {
  const auto profiles = firefoxProfilePaths(
      "[Install4F96D1932A9F858E]\nDefault=ignored\n\n[Profile1]\r\nName=work\r\nIsRelative=0\r\n"
      "Path=/home/u/elsewhere\r\n\n[General]\nPath=ignored\n[Profile0]\nPath=abc.default-esr\n"
      "[Profile2]\nName=no path\n");
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_EQ(profiles[0].path, "/home/u/elsewhere");
  EXPECT_FALSE(profiles[0].relative);
  EXPECT_EQ(profiles[1].path, "abc.default-esr");
  EXPECT_TRUE(profiles[1].relative);

  const std::string ids = "chrome aaaa\n  firefox  x@y \nchrome\nchrome two words\nchromeish b\n";
  EXPECT_EQ(idsFileEntries(ids, "chrome"), std::vector<std::string>{"aaaa"});
  EXPECT_EQ(idsFileEntries(ids, "firefox"), std::vector<std::string>{"x@y"});
}

TEST(ExtensionPresence, OnBeatsOffBeatsCannotTellBeatsNotInstalled) {
  using Kind = ExtensionPresence::Kind;
  const BrowserRecords chromium{"Chromium", true, RecordedState::absent, {}};
  const BrowserRecords offInFirefox{"Firefox", true, RecordedState::disabled, {}};
  const BrowserRecords onInEdge{"Microsoft Edge", true, RecordedState::enabled, {"x: y"}};
  const BrowserRecords unreadable{"Brave", true, RecordedState::absent, {"/p/Preferences: EACCES"}};
  const auto judged = [](const std::vector<BrowserRecords>& browsers) {
    const ExtensionPresence presence = judgePresence(browsers);
    return std::make_pair(presence.kind, presence.text);
  };
  EXPECT_EQ(judged({chromium, offInFirefox, onInEdge}),
            std::make_pair(Kind::on, std::string("Microsoft Edge has the Ostrela extension on.")));
  EXPECT_EQ(judged({unreadable, offInFirefox}),
            std::make_pair(Kind::off, std::string("Firefox has the Ostrela extension installed "
                                                  "but turned off.")));
  EXPECT_EQ(judged({chromium, unreadable}),
            std::make_pair(Kind::cannotTell, std::string("Cannot tell whether Brave has the "
                                                         "Ostrela extension on: /p/Preferences: "
                                                         "EACCES")));
  EXPECT_EQ(judged({chromium, chromium, chromium}),
            std::make_pair(Kind::notInstalled,
                           std::string("The Ostrela extension is not installed in Chromium, "
                                       "Chromium or Chromium.")));
  EXPECT_EQ(judged({}),
            std::make_pair(Kind::notInstalled, std::string("No supported browser is installed.")));
}

}  // namespace
}  // namespace ostrela
