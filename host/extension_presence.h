// Whether a browser has the web extension on, judged from the browsers' own
// records: a Chromium-family profile's preferences, Firefox's extensions.json.
// The texts come from outside (any account's browser could have written them):
// what does not parse is a reason for "cannot tell", never a crash.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrela {

// What one profile's record says of the extension.
enum class RecordedState { absent, disabled, enabled };

// The state that a Chromium-family profile's Preferences or Secure Preferences
// text records for any of `ids` (extensions.settings.<id>: disabled when its
// "state" is 0 or it has "disable_reasons"); nothing when the text is not a JSON object.
std::optional<RecordedState> chromiumRecordedState(std::string_view preferences,
                                                   const std::vector<std::string>& ids);

// The state that Firefox's extensions.json records for any of `ids` (an entry
// of "addons" with that "id": enabled when "active" is true); nothing when the
// text is not a JSON object with an "addons" array.
std::optional<RecordedState> firefoxRecordedState(std::string_view extensionsJson,
                                                  const std::vector<std::string>& ids);

// The "Path" of every [Profile...] section of Firefox's profiles.ini, with
// whether it is relative to the file's folder ("IsRelative=1").
struct FirefoxProfilePath {
  std::string path;
  bool relative = true;
};
std::vector<FirefoxProfilePath> firefoxProfilePaths(std::string_view profilesIni);

// The ids of the lines "<family> <id>" of the organisation's ids file ("chrome", "firefox").
std::vector<std::string> idsFileEntries(std::string_view text, std::string_view family);

// One browser's records, as read.
struct BrowserRecords {
  std::string browser;  // "Chromium"
  bool idsKnown = false;
  RecordedState state = RecordedState::absent;  // the most that any profile records
  std::vector<std::string> unreadable;          // "<file>: <why>", for records that were there
};

struct ExtensionPresence {
  enum class Kind { on, off, notInstalled, cannotTell };
  Kind kind = Kind::cannotTell;
  std::string text;  // one sentence naming the browser, for the user and the admin check
};

// On when a browser has the extension enabled, off when one has it only disabled (the
// first of `browsers`, in their order of preference, is named), not installed when every
// browser's records were read and none has it, and otherwise cannot tell.
ExtensionPresence judgePresence(const std::vector<BrowserRecords>& browsers);

}  // namespace ostrela
