#include "platform/linux/passwd_file.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ostrela::linux_platform {
namespace {

// name:password:uid:gid:gecos:home:shell
std::optional<PasswdEntry> parseLine(std::string_view line) {
  std::string_view fields[7];
  std::size_t count = 0;
  while (count < 7) {
    const std::size_t colon = line.find(':');
    fields[count++] = line.substr(0, colon);
    if (colon == std::string_view::npos) break;
    line.remove_prefix(colon + 1);
  }
  if (count != 7 || fields[0].empty()) return std::nullopt;
  PasswdEntry entry;
  const std::string_view uid = fields[2];
  const auto [end, error] = std::from_chars(uid.data(), uid.data() + uid.size(), entry.uid);
  if (uid.empty() || error != std::errc() || end != uid.data() + uid.size()) return std::nullopt;
  entry.name = fields[0];
  entry.home = fields[5];
  return entry;
}

template <typename Wanted>
std::optional<PasswdEntry> firstEntry(const std::filesystem::path& file, Wanted wanted) {
  // C stdio rather than <fstream>: it is in the executable already, the locale machinery is not.
  std::FILE* in = std::fopen(file.c_str(), "re");
  if (in == nullptr) return std::nullopt;
  std::optional<PasswdEntry> found;
  char* line = nullptr;
  std::size_t capacity = 0;
  for (ssize_t length; !found && (length = ::getline(&line, &capacity, in)) > 0;) {
    std::string_view text(line, static_cast<std::size_t>(length));
    if (text.back() == '\n') text.remove_suffix(1);
    found = parseLine(text);
    if (found && !wanted(*found)) found.reset();
  }
  std::free(line);
  std::fclose(in);
  return found;
}

}  // namespace

std::optional<PasswdEntry> passwdEntryForUid(uid_t uid, const std::filesystem::path& file) {
  return firstEntry(file, [uid](const PasswdEntry& entry) { return entry.uid == uid; });
}

std::optional<PasswdEntry> passwdEntryForName(std::string_view name,
                                              const std::filesystem::path& file) {
  return firstEntry(file, [name](const PasswdEntry& entry) { return entry.name == name; });
}

}  // namespace ostrela::linux_platform
