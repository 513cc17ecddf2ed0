// A native-messaging host manifest as a browser reads it: the one rule of
// when a manifest counts, for the host window, the admin check and the client.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "browsers/browser_table.h"

namespace ostrela {

struct HostManifest {
  std::string executable;               // an absolute path
  std::vector<std::string> allowedIds;  // extension ids, without "chrome-extension://"
};

// The manifest in `text`, or why a browser of `family` would refuse it: it
// must be a JSON object naming `hostName`, of type "stdio", with an absolute
// "path", and allowing at least one extension (allowed_origins of
// "chrome-extension://<id>/" for the Chromium family, allowed_extensions for Firefox).
std::variant<HostManifest, std::string> parseHostManifest(std::string_view text,
                                                          std::string_view hostName,
                                                          BrowserFamily family);

// The page where the user sees the extension's settings: for the Chromium
// family "<extensions page>?id=<id>" when the manifest allows one well-formed
// id, else the browser's extensions page.
std::string settingsPage(const Browser& browser, const HostManifest& manifest);

}  // namespace ostrela
