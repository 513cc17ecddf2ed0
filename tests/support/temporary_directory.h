// A fresh folder (under $TMPDIR unless told), removed with everything in it at the end of its
// scope.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrela::testing {

class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(
      const std::filesystem::path& parent = std::filesystem::temp_directory_path());
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `contents` to `relative`, creating the folders on the way.
  std::filesystem::path write(const std::filesystem::path& relative,
                              std::string_view contents) const;
  // Writes an executable shell script (mode 0755) with `body` after its first line.
  std::filesystem::path writeScript(const std::filesystem::path& relative,
                                    const std::string& body) const;

 private:
  std::filesystem::path path_;
};

}  // namespace ostrela::testing
