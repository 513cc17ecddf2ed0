#include "platform/linux/file_preference_stores.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/json.h"
#include "platform/linux/preference_file.h"

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

AnyMap withoutNulls(const AnyMap& map) {
  AnyMap result;
  for (const auto& [key, value] : map) {
    if (!value.isNull()) result.set(key, value);
  }
  return result;
}

// Holds an exclusive advisory lock on the suite's lock file while alive.
class SuiteLock {
 public:
  explicit SuiteLock(const std::filesystem::path& folder)
      : fd_(::open((folder / kSuiteLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~SuiteLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  SuiteLock(const SuiteLock&) = delete;
  SuiteLock& operator=(const SuiteLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool isAccessibleFolder(const std::filesystem::path& folder, int mode) {
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(folder.c_str(), mode) == 0;
}

}  // namespace

StandardPreferenceDomain::StandardPreferenceDomain(AnyMap forced, AnyMap own)
    : forced_(std::move(forced)), own_(std::move(own)) {}

std::optional<AnyValue> StandardPreferenceDomain::objectForKey(std::string_view key) const {
  if (forced_.contains(key)) return valueOf(forced_, key);
  return valueOf(own_, key);
}

bool StandardPreferenceDomain::objectIsForcedForKey(std::string_view key) const {
  return forced_.contains(key);
}

AnyMap StandardPreferenceDomain::dictionaryRepresentation() const {
  AnyMap result = withoutNulls(own_);
  for (const auto& [key, value] : forced_) {
    if (value.isNull()) {
      result.erase(key);
    } else {
      result.set(key, value);
    }
  }
  return result;
}

SuitePreferenceStore::SuitePreferenceStore(std::filesystem::path folder, AnyMap snapshot)
    : folder_(std::move(folder)), file_(folder_ / kSuiteFileName), snapshot_(std::move(snapshot)) {}

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
  update(key, value);
}

void SuitePreferenceStore::removeObjectForKey(std::string_view key) {
  update(key, std::nullopt);
}

void SuitePreferenceStore::update(std::string_view key, const std::optional<AnyValue>& value) {
  std::lock_guard lock(mutex_);
  SuiteLock suiteLock(folder_);
  if (!suiteLock.held()) return;
  AnyMap current = readPreferenceFile(file_).value_or(AnyMap{});
  if (value) {
    current.set(std::string(key), *value);
  } else {
    current.erase(key);
  }
  std::optional<std::string> text = encodeJson(AnyValue(current));
  if (text && replaceFileAtomically(file_, *text)) {
    snapshot_ = std::move(current);
  } else {
    snapshot_ = readPreferenceFile(file_).value_or(AnyMap{});
  }
}

FilePreferenceStores::FilePreferenceStores(XdgDirectories directories,
                                           ManagedPreferencesSource managed, std::string domain)
    : directories_(std::move(directories)),
      managed_(std::move(managed)),
      domain_(std::move(domain)) {}

std::filesystem::path FilePreferenceStores::managedFile() const {
  return managed_.folder / (domain_ + ".json");
}

std::filesystem::path FilePreferenceStores::ownFile() const {
  return directories_.configHome / "ostrela" / "preferences" / (domain_ + ".json");
}

std::filesystem::path FilePreferenceStores::suiteFolder(std::string_view suiteName) const {
  return directories_.configHome / "ostrela" / "group-containers" / std::string(suiteName);
}

std::shared_ptr<ManagedPreferenceDomain> FilePreferenceStores::standardUserDefaults() const {
  const std::filesystem::path managed = managedFile();
  ManagedPreferencesRead forced = readManagedPreferences(managed, managed_.checkOwnership);
  if (forced.untrustedReason && managed_.logger != nullptr) {
    managed_.logger->log(LogLevel::error, "Ignored managed preferences %{public}s: %{public}s",
                         {managed.c_str(), forced.untrustedReason->c_str()});
  }
  return std::make_shared<StandardPreferenceDomain>(
      std::move(forced.contents).value_or(AnyMap{}),
      readPreferenceFile(ownFile()).value_or(AnyMap{}));
}

std::shared_ptr<ManagedPreferenceDomain> FilePreferenceStores::suiteForReading(
    std::string_view suiteName) const {
  // Read for every relayed message: one open and one read when the file is there.
  const std::filesystem::path folder = suiteFolder(suiteName);
  PreferenceFileRead read = readPreferenceFileReporting(folder / kSuiteFileName);
  if (read.openError == EACCES) return nullptr;
  if (read.openError != 0) {
    // No file: an empty store, unless the folder is there but closed to us.
    std::error_code ec;
    if (std::filesystem::exists(folder, ec) && !isAccessibleFolder(folder, R_OK | X_OK)) {
      return nullptr;
    }
  }
  return std::make_shared<SuitePreferenceStore>(folder,
                                                std::move(read.contents).value_or(AnyMap{}));
}

std::shared_ptr<MutablePreferenceDomain> FilePreferenceStores::suiteForWriting(
    std::string_view suiteName) const {
  const std::filesystem::path folder = suiteFolder(suiteName);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !isAccessibleFolder(folder, R_OK | W_OK | X_OK)) return nullptr;
  ::chmod(folder.c_str(), S_IRWXU);
  return std::make_shared<SuitePreferenceStore>(
      folder, readPreferenceFile(folder / kSuiteFileName).value_or(AnyMap{}));
}

}  // namespace ostrela::linux_platform
