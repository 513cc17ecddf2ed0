// A Linux desktop in a temporary folder: browsers on a search path and
// native-messaging host manifests in their folders.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/linux/browsers/browser_registrations.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {

inline constexpr const char* kExtensionOrigin =
    "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";

class FakeDesktop {
 public:
  BrowserEnvironment environment() const {
    return {temp_.path() / "home",
            temp_.path() / "config",
            temp_.path() / "root",
            {temp_.path() / "bin", temp_.path() / "usr-bin"}};
  }

  // An executable `command` on the search path; by default it records its arguments.
  std::filesystem::path install(
      const std::string& command,
      const std::string& script = "#!/bin/sh\necho \"$@\" > \"$0.args\"\n") const {
    return executable("bin/" + command, script);
  }

  std::filesystem::path executable(const std::string& relative, const std::string& script) const {
    const auto path = temp_.write(relative, script);
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // A valid manifest for `hostName` at `relative`, with `extra` members appended to it.
  void registerHost(const std::string& relative, const std::string& hostName,
                    const std::string& allowed = std::string("\"allowed_origins\": [\"") +
                                                 kExtensionOrigin + "\"]") const {
    const auto host = executable("opt/ostrela/" + hostName, "#!/bin/sh\n");
    temp_.write(relative, "{\"name\": \"" + hostName + "\", \"description\": \"Ostrela\", " +
                              "\"path\": \"" + host.string() + "\", \"type\": \"stdio\", " +
                              allowed + "}");
  }

  const std::filesystem::path& path() const { return temp_.path(); }
  void write(const std::string& relative, const std::string& text) const {
    temp_.write(relative, text);
  }

 private:
  testing::TemporaryDirectory temp_;
};

}  // namespace ostrela::linux_platform
