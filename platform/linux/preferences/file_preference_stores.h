// Preference stores backed by JSON files:
//   forced values of domain D: <managed folder>/D.json, root's files only
//   own values of domain D:    $XDG_CONFIG_HOME/ostrela/preferences/D.json
//   App Group suite S:         $XDG_CONFIG_HOME/ostrela/group-containers/S/preferences.json
// The last two only when private to the account (private_store_folder.h).
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/logger.h"
#include "platform/linux/preferences/managed_preferences_trust.h"
#include "platform/linux/xdg_directories.h"
#include "shared/preference_domain.h"

namespace ostrela::linux_platform {

// A process's standard user defaults: its own values with every member of the
// managed file layered over them as a forced value. Both files are read once,
// when the domain is opened. A forced member whose value is null is forced
// with no value.
class StandardPreferenceDomain : public ManagedPreferenceDomain {
 public:
  StandardPreferenceDomain(AnyMap forced, AnyMap own,
                           std::optional<std::string> forcedValuesProblem = std::nullopt);

  std::optional<AnyValue> objectForKey(std::string_view key) const override;
  bool objectIsForcedForKey(std::string_view key) const override;
  AnyMap dictionaryRepresentation() const override;
  std::optional<std::string> forcedValuesProblem() const override { return forcedValuesProblem_; }

 private:
  AnyMap forced_;
  AnyMap own_;
  std::optional<std::string> forcedValuesProblem_;
};

// How long a writer waits for another process to release the suite's lock.
inline constexpr std::chrono::milliseconds kSuiteLockPatience{2000};

// An App Group suite. Reads come from the snapshot taken at opening or at the
// last write. Each write re-reads the file under an advisory lock shared by
// all processes, changes its keys and replaces the file atomically, so keys
// that others wrote are kept and no reader ever sees a partial file. A file
// that cannot be read or parsed, a lock not released within `lockPatience`, or a
// folder or file that another account could have written, leaves the store unwritten.
class SuitePreferenceStore : public MutablePreferenceDomain {
 public:
  SuitePreferenceStore(std::filesystem::path folder, AnyMap snapshot,
                       std::chrono::milliseconds lockPatience = kSuiteLockPatience);

  std::optional<AnyValue> objectForKey(std::string_view key) const override;
  bool objectIsForcedForKey(std::string_view key) const override;
  AnyMap dictionaryRepresentation() const override;
  void setObjectForKey(std::optional<AnyValue> value, std::string_view key) override;
  void removeObjectForKey(std::string_view key) override;
  std::optional<PreferenceStoreUnavailable> applyChanges(
      const std::vector<PreferenceChange>& changes) override;

 private:
  std::filesystem::path folder_;
  std::filesystem::path file_;
  std::chrono::milliseconds lockPatience_;
  mutable std::mutex mutex_;
  AnyMap snapshot_;
};

// Where forced preferences come from, and who hears of a file that is ignored.
struct ManagedPreferencesSource {
  std::filesystem::path folder = managedPreferencesFolder();
  // False only in tests of the layering, whose folders are temporary ones.
  bool checkOwnership = true;
  // Gets one error line for each forced file ignored as untrusted or unreadable, for each
  // own or App Group store ignored as another account's or as a link (see
  // private_store_folder.h), and for an App Group folder that cannot be made.
  const Logger* logger = nullptr;
};

class FilePreferenceStores : public PreferenceStores {
 public:
  // `domain` names the process's standard domain, such as com.ostrela.safari-extension.
  FilePreferenceStores(XdgDirectories directories, ManagedPreferencesSource managed,
                       std::string domain,
                       std::chrono::milliseconds lockPatience = kSuiteLockPatience);

  std::shared_ptr<ManagedPreferenceDomain> standardUserDefaults() const override;
  std::shared_ptr<ManagedPreferenceDomain> suiteForReading(
      std::string_view suiteName) const override;
  std::shared_ptr<MutablePreferenceDomain> suiteForWriting(
      std::string_view suiteName) const override;

  std::filesystem::path managedFile() const;
  // The forced file as the trusted walk opened it (managed_preferences_trust.h);
  // none when it is missing or may not be trusted.
  FileDescriptor openManagedFile() const;
  std::filesystem::path ownFile() const;
  std::filesystem::path suiteFolder(std::string_view suiteName) const;
  std::filesystem::path suiteFile(std::string_view suiteName) const;

 private:
  void logIgnored(const std::filesystem::path& file, const std::string& why) const;
  // The members of an own or App Group store's file (empty when it is missing or
  // malformed), checked as private_store_folder.h says; nothing when the store may not
  // be used at all, with an error line when another account could have written it.
  std::optional<AnyMap> readPrivateStore(const std::filesystem::path& file, bool makePrivate) const;

  XdgDirectories directories_;
  ManagedPreferencesSource managed_;
  std::string domain_;
  std::chrono::milliseconds lockPatience_;
};

}  // namespace ostrela::linux_platform
