// The browsers' own records of the web extension: each Chromium-family
// profile's Preferences and Secure Preferences, Firefox's extensions.json of
// each profile in profiles.ini, in the profile folders of the browser table.
// They are read for the ids that the browser's registered host manifests allow
// and that the organisation's ids file (/etc/ostrela/extension-ids) lists.
#pragma once

#include <string>
#include <vector>

#include "host/extension_presence.h"
#include "platform/linux/browsers/browser_registrations.h"

namespace ostrela::linux_platform {

// A profile's record is the browser's own file, from a few KiB to a few MiB.
inline constexpr std::size_t kMaxBrowserRecordSize = 32 * 1024 * 1024;

// What each installed browser of the table records, in the table's order. Every
// file is read as untrusted: regular files only, never through a link, up to the cap;
// one that is there but cannot be read or parsed is named in `unreadable`.
std::vector<BrowserRecords> readBrowserRecords(const BrowserEnvironment& environment,
                                               const std::vector<std::string>& hostNames);

// judgePresence() of those records; "cannot tell" for root, whose $HOME may be
// another account's (the profiles are per-user).
ExtensionPresence extensionPresence(const BrowserEnvironment& environment,
                                    const std::vector<std::string>& hostNames);

}  // namespace ostrela::linux_platform
