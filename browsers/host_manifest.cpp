#include "browsers/host_manifest.h"

#include <algorithm>

#include "core/any_value.h"
#include "core/json.h"

namespace ostrela {
namespace {

// Chromium extension ids are 32 letters from 'a' to 'p'.
bool isChromiumExtensionId(std::string_view id) {
  return id.size() == 32 &&
         std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

const std::string* stringMember(const AnyMap& object, std::string_view key) {
  const AnyValue* value = object.find(key);
  return value != nullptr ? value->asString() : nullptr;
}

}  // namespace

std::variant<HostManifest, std::string> parseHostManifest(std::string_view text,
                                                          std::string_view hostName,
                                                          BrowserFamily family) {
  const std::optional<AnyValue> value = decodeJson(text);
  const AnyMap* object = value ? value->asMap() : nullptr;
  if (object == nullptr) return std::string("not a JSON object");
  const std::string* name = stringMember(*object, "name");
  if (name == nullptr || *name != hostName) {
    return "its \"name\" is not \"" + std::string(hostName) + "\"";
  }
  const std::string* type = stringMember(*object, "type");
  if (type == nullptr || *type != "stdio") return std::string("its \"type\" is not \"stdio\"");
  const std::string* executable = stringMember(*object, "path");
  if (executable == nullptr || !executable->starts_with("/")) {
    return std::string("its \"path\" is not an absolute path");
  }
  const char* member = family == BrowserFamily::firefox ? "allowed_extensions" : "allowed_origins";
  const AnyValue* allowed = object->find(member);
  const AnyArray* list = allowed != nullptr ? allowed->asArray() : nullptr;
  if (list == nullptr) return "it has no \"" + std::string(member) + "\" list";
  HostManifest manifest{*executable, {}};
  constexpr std::string_view kScheme = "chrome-extension://";
  for (const AnyValue& item : *list) {
    const std::string* entry = item.asString();
    if (entry == nullptr) continue;
    std::string id = *entry;
    if (family == BrowserFamily::chromium) {
      if (!id.starts_with(kScheme) || !id.ends_with("/")) continue;
      id = id.substr(kScheme.size(), id.size() - kScheme.size() - 1);
    }
    if (!id.empty()) manifest.allowedIds.push_back(std::move(id));
  }
  if (manifest.allowedIds.empty()) return "its \"" + std::string(member) + "\" allows no extension";
  return manifest;
}

std::string settingsPage(const Browser& browser, const HostManifest& manifest) {
  if (browser.family == BrowserFamily::chromium && manifest.allowedIds.size() == 1 &&
      isChromiumExtensionId(manifest.allowedIds.front())) {
    return browser.extensionsPage + "?id=" + manifest.allowedIds.front();
  }
  return browser.extensionsPage;
}

}  // namespace ostrela
