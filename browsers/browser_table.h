// The browsers of a Linux desktop that can start the extension's
// native-messaging hosts: their programs, the folders where they look for host
// manifests and organisation policies, and their extensions page. One table
// (browsers/browsers.table) for the host window, the admin check, the client
// and the manifest tool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrela {

// How a browser names the extensions a manifest allows, and how it starts the host.
enum class BrowserFamily { chromium, firefox };

// A per-user folder lies under one of these; the rest of its path is relative.
enum class UserFolderBase { configHome, home };

struct UserFolder {
  UserFolderBase base;
  std::string relative;  // to its base
};

struct Browser {
  std::string name;  // "Chromium"
  BrowserFamily family;
  std::vector<std::string> executables;            // looked up in the system's program folders
  std::vector<std::string> systemManifestFolders;  // absolute; the first is where to install
  UserFolderBase userFolderBase;
  std::string userManifestFolder;  // relative to its base
  std::string policyFolder;        // Chromium-family managed policies; empty when none
  std::string extensionsPage;      // "chrome://extensions/"
  // Where the browser records which extensions each profile has: the user data folder of
  // the Chromium family, the folder of Firefox's profiles.ini.
  std::vector<UserFolder> profileFolders;
};

// Every browser of the table, in order of preference.
const std::vector<Browser>& browserTable();

// The table's lines as Browser values; lines that do not parse are left out.
std::vector<Browser> parseBrowserTable(std::string_view text);

// The arguments a browser starts the host with: the caller's origin for the
// Chromium family; the manifest's path and the extension's id for Firefox.
std::vector<std::string> browserArguments(BrowserFamily family, const std::string& manifestPath,
                                          const std::string& extensionId);

}  // namespace ostrela
