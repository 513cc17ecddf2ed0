// Preference stores backed by JSON files:
//   forced values of domain D: <managed folder>/D.json, root's files only
//   own values of domain D:    $XDG_CONFIG_HOME/ostrela/preferences/D.json
//   App Group suite S:         $XDG_CONFIG_HOME/ostrela/group-containers/S/preferences.json
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/logger.h"
#include "platform/linux/managed_preferences_trust.h"
#include "platform/linux/xdg_directories.h"
#include "shared/preference_domain.h"

namespace ostrela::linux_platform {

// A process's standard user defaults: its own values with every member of the
// managed file layered over them as a forced value. Both files are read once,
// when the domain is opened. A forced member whose value is null is forced
// with no value.
class StandardPreferenceDomain : public ManagedPreferenceDomain {
 public:
  StandardPreferenceDomain(AnyMap forced, AnyMap own);

  std::optional<AnyValue> objectForKey(std::string_view key) const override;
  bool objectIsForcedForKey(std::string_view key) const override;
  AnyMap dictionaryRepresentation() const override;

 private:
  AnyMap forced_;
  AnyMap own_;
};

// An App Group suite. Reads come from the snapshot taken at opening or at the
// last write. Each write re-reads the file under an advisory lock shared by
// all processes, changes one key and replaces the file atomically, so keys
// that others wrote are kept and no reader ever sees a partial file.
class SuitePreferenceStore : public MutablePreferenceDomain {
 public:
  SuitePreferenceStore(std::filesystem::path folder, AnyMap snapshot);

  std::optional<AnyValue> objectForKey(std::string_view key) const override;
  bool objectIsForcedForKey(std::string_view key) const override;
  AnyMap dictionaryRepresentation() const override;
  void setObjectForKey(std::optional<AnyValue> value, std::string_view key) override;
  void removeObjectForKey(std::string_view key) override;

  const std::filesystem::path& file() const { return file_; }

 private:
  void update(std::string_view key, const std::optional<AnyValue>& value);

  std::filesystem::path folder_;
  std::filesystem::path file_;
  mutable std::mutex mutex_;
  AnyMap snapshot_;
};

// Where forced preferences come from, and who hears of a file that is ignored.
struct ManagedPreferencesSource {
  std::filesystem::path folder = managedPreferencesFolder();
  // False only in tests of the layering, whose folders are temporary ones.
  bool checkOwnership = true;
  // Gets one error line for each forced file ignored as untrusted.
  const Logger* logger = nullptr;
};

class FilePreferenceStores : public PreferenceStores {
 public:
  // `domain` names the process's standard domain, such as com.ostrela.safari-extension.
  FilePreferenceStores(XdgDirectories directories, ManagedPreferencesSource managed,
                       std::string domain);

  std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const override;
  std::shared_ptr<ManagedPreferenceDomain> suiteForReading(
      std::string_view suiteName) const override;
  std::shared_ptr<MutablePreferenceDomain> suiteForWriting(
      std::string_view suiteName) const override;

  std::filesystem::path managedFile() const;
  std::filesystem::path ownFile() const;
  std::filesystem::path suiteFolder(std::string_view suiteName) const;

 private:
  XdgDirectories directories_;
  ManagedPreferencesSource managed_;
  std::string domain_;
};

}  // namespace ostrela::linux_platform
