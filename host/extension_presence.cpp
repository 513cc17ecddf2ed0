#include "host/extension_presence.h"

#include <algorithm>

#include "core/json.h"

namespace ostrela {
namespace {

const AnyValue* member(const AnyValue* value, std::string_view key) {
  const AnyMap* map = value != nullptr ? value->asMap() : nullptr;
  return map != nullptr ? map->find(key) : nullptr;
}

bool isZero(const AnyValue* value) {
  return value != nullptr && value->asNumber() != nullptr && value->asNumber()->toDouble() == 0;
}

// disable_reasons is a bit mask in older versions and a list of reasons in newer ones.
bool hasDisableReasons(const AnyValue* reasons) {
  if (reasons == nullptr || reasons->isNull()) return false;
  if (const AnyArray* list = reasons->asArray()) return !list->empty();
  return !isZero(reasons);
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

template <typename Each>
void forEachLine(std::string_view text, Each each) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    each(trimmed(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

std::optional<RecordedState> chromiumRecordedState(std::string_view preferences,
                                                   const std::vector<std::string>& ids) {
  const std::optional<AnyValue> root = decodeJson(preferences);
  if (!root || !root->isMap()) return std::nullopt;
  const AnyValue* settings = member(member(&*root, "extensions"), "settings");
  RecordedState state = RecordedState::absent;
  for (const std::string& id : ids) {
    const AnyValue* record = member(settings, id);
    if (record == nullptr || !record->isMap()) continue;
    const bool disabled =
        isZero(member(record, "state")) || hasDisableReasons(member(record, "disable_reasons"));
    state = std::max(state, disabled ? RecordedState::disabled : RecordedState::enabled);
  }
  return state;
}

std::optional<RecordedState> firefoxRecordedState(std::string_view extensionsJson,
                                                  const std::vector<std::string>& ids) {
  const std::optional<AnyValue> root = decodeJson(extensionsJson);
  const AnyValue* addons = root ? member(&*root, "addons") : nullptr;
  if (addons == nullptr || !addons->isArray()) return std::nullopt;
  RecordedState state = RecordedState::absent;
  for (const AnyValue& addon : *addons->asArray()) {
    const AnyValue* id = member(&addon, "id");
    if (id == nullptr || id->asString() == nullptr ||
        std::find(ids.begin(), ids.end(), *id->asString()) == ids.end()) {
      continue;
    }
    const AnyValue* active = member(&addon, "active");
    const bool on = active != nullptr && active->asBool() != nullptr && *active->asBool();
    state = std::max(state, on ? RecordedState::enabled : RecordedState::disabled);
  }
  return state;
}

std::vector<FirefoxProfilePath> firefoxProfilePaths(std::string_view profilesIni) {
  std::vector<FirefoxProfilePath> profiles;
  bool inProfile = false;
  forEachLine(profilesIni, [&](std::string_view line) {
    if (line.starts_with("[")) {
      inProfile = line.starts_with("[Profile");
      if (inProfile) profiles.emplace_back();
    } else if (inProfile && line.starts_with("Path=")) {
      profiles.back().path = line.substr(5);
    } else if (inProfile && line.starts_with("IsRelative=")) {
      profiles.back().relative = line.substr(11) != "0";
    }
  });
  std::erase_if(profiles, [](const FirefoxProfilePath& profile) { return profile.path.empty(); });
  return profiles;
}

std::vector<std::string> idsFileEntries(std::string_view text, std::string_view family) {
  std::vector<std::string> ids;
  forEachLine(text, [&](std::string_view line) {
    const std::size_t blank = line.find_first_of(" \t");
    if (blank == std::string_view::npos || line.substr(0, blank) != family) return;
    const std::string_view id = trimmed(line.substr(blank));
    if (!id.empty() && id.find_first_of(" \t") == std::string_view::npos) ids.emplace_back(id);
  });
  return ids;
}

ExtensionPresence judgePresence(const std::vector<BrowserRecords>& browsers) {
  using Kind = ExtensionPresence::Kind;
  for (const RecordedState wanted : {RecordedState::enabled, RecordedState::disabled}) {
    for (const BrowserRecords& browser : browsers) {
      if (browser.state != wanted) continue;
      if (wanted == RecordedState::enabled) {
        return {Kind::on, browser.browser + " has the Ostrela extension on."};
      }
      return {Kind::off, browser.browser + " has the Ostrela extension installed but turned off."};
    }
  }
  for (const BrowserRecords& browser : browsers) {
    const std::string why = !browser.idsKnown            ? "no extension id is known for it"
                            : browser.unreadable.empty() ? std::string()
                                                         : browser.unreadable.front();
    if (!why.empty()) {
      return {Kind::cannotTell,
              "Cannot tell whether " + browser.browser + " has the Ostrela extension on: " + why};
    }
  }
  if (browsers.empty()) return {Kind::notInstalled, "No supported browser is installed."};
  std::vector<std::string> names;
  for (const BrowserRecords& browser : browsers) names.push_back(browser.browser);
  return {Kind::notInstalled, "The Ostrela extension is not installed in " + listed(names) + "."};
}

}  // namespace ostrela
