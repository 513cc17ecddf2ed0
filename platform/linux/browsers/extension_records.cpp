#include "platform/linux/browsers/extension_records.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/browsers/host_manifest_file.h"

namespace ostrela::linux_platform {
namespace {

using Path = std::filesystem::path;

// The extension's ids for `browser`: those its registered manifests allow, then the
// organisation's for its family.
std::vector<std::string> extensionIds(const Browser& browser, const BrowserEnvironment& environment,
                                      const std::vector<std::string>& hostNames) {
  std::vector<std::string> ids;
  for (const std::string& hostName : hostNames) {
    const auto found = findManifest(browser, environment, hostName);
    const auto* manifest = found ? std::get_if<HostManifest>(&found->manifest) : nullptr;
    if (manifest != nullptr)
      ids.insert(ids.end(), manifest->allowedIds.begin(), manifest->allowedIds.end());
  }
  const SmallFile file = readSmallRegularFile(environment.systemRoot / "etc/ostrela/extension-ids");
  if (file.text) {
    const auto listed =
        idsFileEntries(*file.text, browser.family == BrowserFamily::firefox ? "firefox" : "chrome");
    ids.insert(ids.end(), listed.begin(), listed.end());
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

bool isThere(const Path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// Adds what `file` records to `records`; a missing file records nothing.
template <typename Judge>
void readRecord(const Path& file, Judge judge, BrowserRecords& records) {
  if (!isThere(file)) return;
  const SmallFile read = readSmallRegularFile(file, kMaxBrowserRecordSize, false);
  const std::optional<RecordedState> state = read.text ? judge(*read.text) : std::nullopt;
  if (state) {
    records.state = std::max(records.state, *state);
  } else {
    records.unreadable.push_back(file.string() + ": " +
                                 (read.text ? "not what the browser writes" : read.problem));
  }
}

// The profiles of a Chromium-family user data folder: "Default" and "Profile N", never
// followed through a link.
std::vector<Path> chromiumProfiles(const Path& userData) {
  std::vector<Path> profiles;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(userData, error)) {
    const std::string name = entry.path().filename().string();
    std::error_code ignored;
    if ((name == "Default" || name.starts_with("Profile ")) &&
        entry.symlink_status(ignored).type() == std::filesystem::file_type::directory) {
      profiles.push_back(entry.path());
    }
  }
  std::sort(profiles.begin(), profiles.end());
  return profiles;
}

std::vector<Path> firefoxProfiles(const Path& folder, BrowserRecords& records) {
  const Path ini = folder / "profiles.ini";
  std::vector<Path> profiles;
  if (!isThere(ini)) return profiles;
  const SmallFile read = readSmallRegularFile(ini, kMaxBrowserFileSize, false);
  if (!read.text) {
    records.unreadable.push_back(ini.string() + ": " + read.problem);
    return profiles;
  }
  for (const FirefoxProfilePath& profile : firefoxProfilePaths(*read.text)) {
    profiles.push_back(profile.relative ? folder / profile.path : Path(profile.path));
  }
  return profiles;
}

}  // namespace

std::vector<BrowserRecords> readBrowserRecords(const BrowserEnvironment& environment,
                                               const std::vector<std::string>& hostNames) {
  std::vector<BrowserRecords> all;
  for (const Browser& browser : browserTable()) {
    if (!findBrowserProgram(browser, environment)) continue;
    BrowserRecords records;
    records.browser = browser.name;
    const std::vector<std::string> ids = extensionIds(browser, environment, hostNames);
    records.idsKnown = !ids.empty();
    for (const UserFolder& folder : browser.profileFolders) {
      const Path base =
          (folder.base == UserFolderBase::configHome ? environment.configHome : environment.home) /
          folder.relative;
      if (browser.family == BrowserFamily::firefox) {
        const auto judge = [&](std::string_view text) { return firefoxRecordedState(text, ids); };
        for (const Path& profile : firefoxProfiles(base, records)) {
          readRecord(profile / "extensions.json", judge, records);
        }
      } else {
        const auto judge = [&](std::string_view text) { return chromiumRecordedState(text, ids); };
        for (const Path& profile : chromiumProfiles(base)) {
          readRecord(profile / "Secure Preferences", judge, records);
          readRecord(profile / "Preferences", judge, records);
        }
      }
    }
    all.push_back(std::move(records));
  }
  return all;
}

ExtensionPresence extensionPresence(const BrowserEnvironment& environment,
                                    const std::vector<std::string>& hostNames) {
  if (!environment.userFolders) {
    return {ExtensionPresence::Kind::cannotTell,
            "Cannot tell whether a browser has the Ostrela extension on: the browsers' profiles "
            "are per-user, and are not read as root"};
  }
  return judgePresence(readBrowserRecords(environment, hostNames));
}

}  // namespace ostrela::linux_platform
