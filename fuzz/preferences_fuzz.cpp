// Any preference file: the reader never crashes, treats anything that is not
// a JSON object as empty, and the forced-key report stays within its bounds:
// at most 12 keys, sorted, each at most 80 user-perceived characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/unicode.h"
#include "extension/forced_key_report.h"
#include "platform/linux/preferences/file_preference_stores.h"

using namespace ostrela;

namespace {

struct Folder {
  std::filesystem::path path;
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrela-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    std::filesystem::create_directories(path / "managed");
  }
  ~Folder() { std::filesystem::remove_all(path); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Folder folder;
  static const linux_platform::FilePreferenceStores stores(
      linux_platform::XdgDirectories{folder.path / "home"}, {folder.path / "managed", false},
      "fuzz");
  {
    std::FILE* file = std::fopen(stores.managedFile().c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const auto reader = ManagedConfigurationReader::fromUserDefaults(stores);
  const AnyMap config = reader.managedConfiguration();
  if (config.size() > 6) std::abort();
  const ForcedKeyReport report = forcedKeyReport(reader);
  const auto& keys = report.unrecognizedForcedKeys;
  if (keys.size() > kMaxReportedKeys) std::abort();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (unicode::graphemeCount(keys[i]) > kMaxReportedKeyLength) std::abort();
    // Shortening comes after sorting, so only whole keys must be in order.
    const bool whole = i > 0 && !keys[i].ends_with("\u2026") && !keys[i - 1].ends_with("\u2026");
    if (whole && unicode::toNfc(keys[i]) < unicode::toNfc(keys[i - 1])) std::abort();
  }
  return 0;
}
