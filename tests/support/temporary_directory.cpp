#include "tests/support/temporary_directory.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ostrela::testing {

TemporaryDirectory::TemporaryDirectory(const std::filesystem::path& parent) {
  std::string pattern = (parent / "ostrela-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TemporaryDirectory::write(const std::filesystem::path& relative,
                                                std::string_view contents) const {
  const std::filesystem::path full = path_ / relative;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream(full, std::ios::binary | std::ios::trunc)
      .write(contents.data(), static_cast<std::streamsize>(contents.size()));
  return full;
}

std::filesystem::path TemporaryDirectory::writeScript(const std::filesystem::path& relative,
                                                      const std::string& body) const {
  const auto path = write(relative, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms(0755));
  return path;
}

}  // namespace ostrela::testing
