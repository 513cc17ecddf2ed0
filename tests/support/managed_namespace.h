// Runs a real executable with a test's folder in place of the installed folder
// of forced preferences, in a private mount namespace (see
// with_managed_preferences.sh). The executable itself is the installed one:
// nothing in it can be pointed elsewhere.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ostrela::testing {

struct Command {
  std::string executable;
  std::vector<std::string> arguments;
};

// False when this process may not make a mount namespace (it is not root).
bool canMountManagedPreferences();

// `executable` with `arguments`, run with `folder` mounted over the installed folder.
Command withManagedPreferences(const std::filesystem::path& folder, std::string executable,
                               std::vector<std::string> arguments = {});

}  // namespace ostrela::testing
