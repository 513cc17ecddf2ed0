// A browser's managed policies folder in a fake root, read as the admin check
// reads it: each set of files lets the host start or names what blocks it.
#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/doctor/machine_facts.h"
#include "tests/support/temporary_directory.h"

namespace ostrela {
namespace {

constexpr const char* kHost = "com.ostrela.ldap_host";

struct PolicyRow {
  const char* name;
  std::vector<std::pair<const char*, const char*>> files;  // name, text
  bool perUser;
  const char* expected;  // the line's end after the folder, or "" when the host may start
};

TEST(BrowserPolicies, EachSetOfPolicyFilesLetsTheHostStartOrNamesTheBlock) {
  constexpr const char* kAll = R"({"NativeMessagingBlocklist":["*"]})";
  constexpr const char* kNone = R"({"NativeMessagingBlocklist":[]})";
  constexpr const char* kUserLevelOff = R"({"NativeMessagingUserLevelHosts":false})";
  constexpr const char* kBlocksAll =
      "/a.json: NativeMessagingBlocklist blocks com.ostrela.ldap_host (\"*\")";
  const std::vector<PolicyRow> table = {
      {"no policies", {}, true, ""},
      {"all blocked", {{"a.json", kAll}}, false, kBlocksAll},
      {"blocked by name",
       {{"a.json", R"({"NativeMessagingBlocklist":["com.ostrela.ldap_host"]})"}},
       false,
       "/a.json: NativeMessagingBlocklist blocks com.ostrela.ldap_host"},
      {"all blocked, this one allowed",
       {{"a.json", kAll}, {"b.json", R"({"NativeMessagingAllowlist":["com.ostrela.ldap_host"]})"}},
       false,
       ""},
      {"the last file wins", {{"b.json", kNone}, {"a.json", kAll}}, false, ""},
      {"broken files count for nothing",
       {{"a.json", kAll}, {"b.json", "{"}, {"c.txt", kNone}},
       false,
       kBlocksAll},
      {"user-level hosts off, per-user manifest",
       {{"a.json", kUserLevelOff}},
       true,
       "/a.json: NativeMessagingUserLevelHosts is false, and the manifest is in the user's folder"},
      {"user-level hosts off, system manifest", {{"a.json", kUserLevelOff}}, false, ""},
  };
  for (const PolicyRow& row : table) {
    SCOPED_TRACE(row.name);
    testing::TemporaryDirectory root;
    const auto folder = root.path() / "etc/chromium/policies/managed";
    std::filesystem::create_directories(folder);
    for (const auto& [name, text] : row.files) root.write(folder / name, text);
    const auto blocked = doctor::whyPoliciesBlockHost(linux_platform::browserPolicyFiles(folder),
                                                      kHost, row.perUser);
    EXPECT_EQ(blocked.value_or(""), *row.expected ? folder.string() + row.expected : "");
  }
}

}  // namespace
}  // namespace ostrela
