#include "browsers/browser_table.h"

#include <optional>

#include "browsers/browser_table_text.h"

namespace ostrela {
namespace {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (;;) {
    const std::size_t end = text.find(separator);
    parts.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return parts;
    text.remove_prefix(end + 1);
  }
}

std::vector<std::string> list(std::string_view field) {
  std::vector<std::string> items;
  for (std::string& item : split(field, ' ')) {
    if (!item.empty() && item != "-") items.push_back(std::move(item));
  }
  return items;
}

// "$XDG_CONFIG_HOME/x" or "$HOME/x".
std::optional<UserFolder> userFolder(std::string_view folder) {
  constexpr std::string_view kConfigHome = "$XDG_CONFIG_HOME/", kHome = "$HOME/";
  if (folder.starts_with(kConfigHome)) {
    return UserFolder{UserFolderBase::configHome, std::string(folder.substr(kConfigHome.size()))};
  }
  if (folder.starts_with(kHome)) {
    return UserFolder{UserFolderBase::home, std::string(folder.substr(kHome.size()))};
  }
  return std::nullopt;
}

std::optional<Browser> parseLine(std::string_view line) {
  const std::vector<std::string> fields = split(line, '|');
  if (fields.size() != 8) return std::nullopt;
  Browser browser;
  browser.name = fields[0];
  if (fields[1] == "chromium") {
    browser.family = BrowserFamily::chromium;
  } else if (fields[1] == "firefox") {
    browser.family = BrowserFamily::firefox;
  } else {
    return std::nullopt;
  }
  browser.executables = list(fields[2]);
  browser.systemManifestFolders = list(fields[3]);
  const std::optional<UserFolder> manifests = userFolder(fields[4]);
  if (!manifests) return std::nullopt;
  browser.userFolderBase = manifests->base;
  browser.userManifestFolder = manifests->relative;
  browser.policyFolder = fields[5] == "-" ? "" : fields[5];
  browser.extensionsPage = fields[6];
  for (const std::string& folder : list(fields[7])) {
    const std::optional<UserFolder> profiles = userFolder(folder);
    if (!profiles) return std::nullopt;
    browser.profileFolders.push_back(*profiles);
  }
  return browser;
}

}  // namespace

std::vector<Browser> parseBrowserTable(std::string_view text) {
  std::vector<Browser> browsers;
  for (const std::string& line : split(text, '\n')) {
    if (line.empty() || line.starts_with("#")) continue;
    if (auto browser = parseLine(line)) browsers.push_back(std::move(*browser));
  }
  return browsers;
}

const std::vector<Browser>& browserTable() {
  static const std::vector<Browser> table = parseBrowserTable(kBrowserTableText);
  return table;
}

std::vector<std::string> browserArguments(BrowserFamily family, const std::string& manifestPath,
                                          const std::string& extensionId) {
  if (family == BrowserFamily::firefox) return {manifestPath, extensionId};
  return {"chrome-extension://" + extensionId + "/"};
}

}  // namespace ostrela
