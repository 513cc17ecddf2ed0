#include "platform/linux/preferences/file_preference_stores.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <variant>

#include "core/json.h"
#include "platform/linux/file_descriptor.h"
#include "platform/linux/preferences/preference_file.h"
#include "platform/linux/preferences/private_store_folder.h"

namespace ostrela::linux_platform {
namespace {

constexpr const char* kSuiteFileName = "preferences.json";
constexpr const char* kSuiteLockName = ".preferences.lock";

// A member with a null value has no value.
std::optional<AnyValue> valueOf(const AnyMap& map, std::string_view key) {
  const AnyValue* value = map.find(key);
  if (value == nullptr || value->isNull()) return std::nullopt;
  return *value;
}

PreferenceStoreUnavailable unavailable(const std::filesystem::path& path, int error) {
  return {path.string() + ": " + std::error_code(error, std::generic_category()).message()};
}

AnyMap withoutNulls(const AnyMap& map) {
  AnyMap result;
  for (const auto& [key, value] : map) {
    if (!value.isNull()) result.set(key, value);
  }
  return result;
}

// Takes an exclusive advisory lock on the suite's lock file, waiting at most
// `patience` for another process to release it; the lock is held while the
// descriptor lives. Polls, because flock() itself has no timeout.
std::variant<FileDescriptor, PreferenceStoreUnavailable> lockSuite(
    const PrivateStoreFolder& folder, const std::filesystem::path& path,
    std::chrono::milliseconds patience) {
  FileDescriptor fd(
      ::openat(folder.fd.get(), kSuiteLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return unavailable(path, errno);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return unavailable(path, errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      return PreferenceStoreUnavailable{path.string() + ": still locked by another process after " +
                                        std::to_string(patience.count()) + " ms"};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fd;
}

// The suite file's members before a write. A missing file is empty, and so is
// a folder or other non-regular file (the write then fails and says why). A file
// that is there but cannot be read or parsed makes the store unusable:
// replacing it would lose every key in it, agentRelaySecret included.
std::variant<AnyMap, PreferenceStoreUnavailable> readForUpdate(const PrivateStoreFolder& folder,
                                                               const std::filesystem::path& file) {
  PreferenceFileRead read = readPrivateStoreFile(folder, kSuiteFileName);
  if (read.contents) return std::move(*read.contents);
  if (read.refused) return PreferenceStoreUnavailable{file.string() + ": " + *read.refused};
  if (read.openError == ENOENT) return AnyMap{};
  if (read.openError != 0) return unavailable(file, read.openError);
  return PreferenceStoreUnavailable{file.string() + ": " + read.malformed.value_or("unreadable")};
}

}  // namespace

StandardPreferenceDomain::StandardPreferenceDomain(AnyMap forced, AnyMap own,
                                                   std::optional<std::string> forcedValuesProblem)
    : forced_(std::move(forced)),
      own_(std::move(own)),
      forcedValuesProblem_(std::move(forcedValuesProblem)) {}

std::optional<AnyValue> StandardPreferenceDomain::objectForKey(std::string_view key) const {
  if (forced_.contains(key)) return valueOf(forced_, key);
  return valueOf(own_, key);
}

bool StandardPreferenceDomain::objectIsForcedForKey(std::string_view key) const {
  return forced_.contains(key);
}

// Own members in their order, a forced value in place of the own one (a forced
// null hides it), then the forced members that have no own value. One pass over
// each map: erasing members one by one would cost a pass per forced null.
AnyMap StandardPreferenceDomain::dictionaryRepresentation() const {
  AnyMap result;
  for (const auto& [key, value] : own_) {
    const AnyValue* forced = forced_.find(key);
    const AnyValue& chosen = forced != nullptr ? *forced : value;
    if (!value.isNull() && !chosen.isNull()) result.set(key, chosen);
  }
  for (const auto& [key, value] : forced_) {
    const AnyValue* own = own_.find(key);
    if (!value.isNull() && (own == nullptr || own->isNull())) result.set(key, value);
  }
  return result;
}

SuitePreferenceStore::SuitePreferenceStore(std::filesystem::path folder, AnyMap snapshot,
                                           std::chrono::milliseconds lockPatience)
    : folder_(std::move(folder)),
      file_(folder_ / kSuiteFileName),
      lockPatience_(lockPatience),
      snapshot_(std::move(snapshot)) {}

std::optional<AnyValue> SuitePreferenceStore::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return valueOf(snapshot_, key);
}

bool SuitePreferenceStore::objectIsForcedForKey(std::string_view) const {
  return false;
}

AnyMap SuitePreferenceStore::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return withoutNulls(snapshot_);
}

void SuitePreferenceStore::setObjectForKey(std::optional<AnyValue> value, std::string_view key) {
  applyChanges({{std::string(key), std::move(value)}});
}

void SuitePreferenceStore::removeObjectForKey(std::string_view key) {
  applyChanges({{std::string(key), std::nullopt}});
}

std::optional<PreferenceStoreUnavailable> SuitePreferenceStore::applyChanges(
    const std::vector<PreferenceChange>& changes) {
  std::lock_guard lock(mutex_);
  const PrivateStoreFolder folder = openPrivateStoreFolder(folder_, false);
  if (folder.untrusted)
    return PreferenceStoreUnavailable{file_.string() + ": " + *folder.untrusted};
  if (!folder.fd.valid()) return unavailable(folder_, folder.error);
  auto suiteLock = lockSuite(folder, folder_ / kSuiteLockName, lockPatience_);
  if (auto* failed = std::get_if<PreferenceStoreUnavailable>(&suiteLock)) return std::move(*failed);
  auto read = readForUpdate(folder, file_);
  if (auto* failed = std::get_if<PreferenceStoreUnavailable>(&read)) return std::move(*failed);
  AnyMap current = std::get<AnyMap>(std::move(read));
  for (const PreferenceChange& change : changes) {
    if (change.value) {
      current.set(change.key, *change.value);
    } else {
      current.erase(change.key);
    }
  }
  const std::optional<std::string> text = encodeJson(AnyValue(current));
  if (!text) return PreferenceStoreUnavailable{file_.string() + ": cannot be written as JSON"};
  // A store its readers would refuse is as good as lost: the one there is kept instead.
  if (text->size() > kMaxPreferenceFileSize) {
    return PreferenceStoreUnavailable{file_.string() + ": would be " +
                                      std::to_string(text->size()) +
                                      " bytes, above the readers' limit of 16 MiB; kept as it was"};
  }
  if (const int error = replaceFileAt(folder.fd.get(), kSuiteFileName, *text); error != 0) {
    return unavailable(file_, error);
  }
  // What readers will find, read from the file again rather than assumed.
  snapshot_ = readPrivateStoreFile(folder, kSuiteFileName).contents.value_or(AnyMap{});
  return std::nullopt;
}

FilePreferenceStores::FilePreferenceStores(XdgDirectories directories,
                                           ManagedPreferencesSource managed, std::string domain,
                                           std::chrono::milliseconds lockPatience)
    : directories_(std::move(directories)),
      managed_(std::move(managed)),
      domain_(std::move(domain)),
      lockPatience_(lockPatience) {}

std::filesystem::path FilePreferenceStores::managedFile() const {
  return managed_.folder / (domain_ + ".json");
}

FileDescriptor FilePreferenceStores::openManagedFile() const {
  return openTrustedManagedFile(managedFile(), managed_.checkOwnership);
}

std::filesystem::path FilePreferenceStores::ownFile() const {
  return directories_.configHome / "ostrela" / "preferences" / (domain_ + ".json");
}

std::filesystem::path FilePreferenceStores::suiteFolder(std::string_view suiteName) const {
  return directories_.configHome / "ostrela" / "group-containers" / std::string(suiteName);
}

std::filesystem::path FilePreferenceStores::suiteFile(std::string_view suiteName) const {
  return suiteFolder(suiteName) / kSuiteFileName;
}

void FilePreferenceStores::logIgnored(const std::filesystem::path& file,
                                      const std::string& why) const {
  if (managed_.logger == nullptr) return;
  managed_.logger->log(LogLevel::error, "Ignored preferences %{public}s: %{public}s",
                       {file.c_str(), why.c_str()});
}

std::optional<AnyMap> FilePreferenceStores::readPrivateStore(const std::filesystem::path& file,
                                                             bool makePrivate) const {
  const PrivateStoreFolder folder = openPrivateStoreFolder(file.parent_path(), makePrivate);
  std::optional<std::string> why = folder.untrusted;
  PreferenceFileRead read;
  if (folder.fd.valid()) {
    read = readPrivateStoreFile(folder, file.filename().c_str());
    why = read.refused;
  }
  if (why) logIgnored(file, *why);
  // A folder or file not made yet, or a malformed file, is an empty store; one closed to
  // us is none.
  if (why || (folder.fd.valid() ? read.openError == EACCES : folder.error != ENOENT)) {
    return std::nullopt;
  }
  return std::move(read.contents).value_or(AnyMap{});
}

std::shared_ptr<ManagedPreferenceDomain> FilePreferenceStores::standardUserDefaults() const {
  const std::filesystem::path managed = managedFile();
  ManagedPreferencesRead forced = readManagedPreferences(managed, managed_.checkOwnership);
  if (forced.untrustedReason && managed_.logger != nullptr) {
    managed_.logger->log(LogLevel::error, "Ignored managed preferences %{public}s: %{public}s",
                         {managed.c_str(), forced.untrustedReason->c_str()});
  }
  if (forced.unreadable && managed_.logger != nullptr) {
    managed_.logger->log(LogLevel::error, "Cannot read managed preferences %{public}s: %{public}s",
                         {managed.c_str(), forced.unreadable->c_str()});
  }
  return std::make_shared<StandardPreferenceDomain>(
      std::move(forced.contents).value_or(AnyMap{}),
      readPrivateStore(ownFile(), false).value_or(AnyMap{}),
      forced.unreadable ? std::optional(managed.string() + ": " + *forced.unreadable)
                        : std::nullopt);
}

std::shared_ptr<ManagedPreferenceDomain> FilePreferenceStores::suiteForReading(
    std::string_view suiteName) const {
  // Read for every relayed message: the folder and the file opened and checked once each.
  std::optional<AnyMap> contents = readPrivateStore(suiteFile(suiteName), false);
  if (!contents) return nullptr;
  return std::make_shared<SuitePreferenceStore>(suiteFolder(suiteName), std::move(*contents),
                                                lockPatience_);
}

std::shared_ptr<MutablePreferenceDomain> FilePreferenceStores::suiteForWriting(
    std::string_view suiteName) const {
  const std::filesystem::path folder = suiteFolder(suiteName);
  if (const int error = makePrivateFolders(folder); error != 0) {
    if (managed_.logger != nullptr) {
      const std::string why = unavailable(folder, error).reason;
      managed_.logger->log(LogLevel::error, "Cannot make the App Group folder: %{public}s",
                           {why.c_str()});
    }
    return nullptr;
  }
  std::optional<AnyMap> contents = readPrivateStore(folder / kSuiteFileName, true);
  if (!contents) return nullptr;
  return std::make_shared<SuitePreferenceStore>(folder, std::move(*contents), lockPatience_);
}

}  // namespace ostrela::linux_platform
