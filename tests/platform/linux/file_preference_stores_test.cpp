#include "platform/linux/file_preference_stores.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/json.h"
#include "extension/forced_key_report.h"
#include "platform/linux/preference_file.h"
#include "shared/managed_configuration_reader.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

constexpr const char* kDomain = "com.ostrela.safari-extension.extension";
const std::string kManaged = std::string("ostrela/managed-preferences/") + kDomain + ".json";
const std::string kOwn = std::string("ostrela/preferences/") + kDomain + ".json";
const std::string kSuite =
    "home/ostrela/group-containers/K7W2RQ9D4F.group.com.ostrela.safari-extension/preferences.json";

class FileStores : public ::testing::Test {
 protected:
  testing::TemporaryDirectory dir;
  FilePreferenceStores stores{
      XdgDirectories{dir.path() / "home", {dir.path() / "etc1", dir.path() / "etc2"}}, kDomain};
  AnyMap suiteFile() const { return readPreferenceFile(dir.path() / kSuite).value_or(AnyMap{}); }
};

TEST_F(FileStores, ForcedValuesComeFromTheFirstConfigDirThatHasTheFile) {
  dir.write("etc2/" + kManaged, R"({"machineId":"second"})");
  EXPECT_EQ(stores.standardUserDefaults()->objectForKey("machineId"), AnyValue("second"));
  dir.write("etc1/" + kManaged, R"({"machineId":"first"})");
  EXPECT_EQ(stores.standardUserDefaults()->objectForKey("machineId"), AnyValue("first"));
}

TEST_F(FileStores, ForcedLayerCoversTheOwnValues) {
  dir.write("etc1/" + kManaged, R"({"forced":"F","both":"forced","nulled":null})");
  dir.write("home/" + kOwn, R"({"own":"O","both":"own","nulled":"own"})");
  const auto domain = stores.standardUserDefaults();

  EXPECT_EQ(domain->objectForKey("forced"), AnyValue("F"));
  EXPECT_EQ(domain->objectForKey("both"), AnyValue("forced"));
  EXPECT_EQ(domain->objectForKey("own"), AnyValue("O"));
  EXPECT_FALSE(domain->objectForKey("nulled"));
  EXPECT_TRUE(domain->objectIsForcedForKey("forced"));
  EXPECT_TRUE(domain->objectIsForcedForKey("nulled"));
  EXPECT_FALSE(domain->objectIsForcedForKey("own"));
  EXPECT_EQ(domain->dictionaryRepresentation(),
            (AnyMap{{"forced", "F"}, {"both", "forced"}, {"own", "O"}}));
}

TEST_F(FileStores, MissingUnreadableOrMalformedFilesAreEmptyStores) {
  for (const char* contents : {"", "[1,2]", "\"text\"", "{\"a\":", "{\"a\":\"\xff\"}", "null"}) {
    dir.write("etc1/" + kManaged, contents);
    const auto domain = stores.standardUserDefaults();
    EXPECT_TRUE(domain->dictionaryRepresentation().empty()) << contents;
    EXPECT_FALSE(domain->objectIsForcedForKey("a"));
  }
  std::filesystem::remove(dir.path() / "etc1" / kManaged);
  std::filesystem::create_directories(dir.path() / "etc1" / kManaged);  // a folder, not a file
  EXPECT_TRUE(stores.standardUserDefaults()->dictionaryRepresentation().empty());
}

TEST_F(FileStores, ReadingTheSuiteCreatesNothing) {
  const auto suite = stores.suiteForReading(appGroupSuiteName);
  ASSERT_NE(suite, nullptr);
  EXPECT_TRUE(suite->dictionaryRepresentation().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "home"));
}

TEST_F(FileStores, WritesKeepOtherKeysAndLeaveAnOwnerOnlyFile) {
  dir.write(kSuite, R"({"agentRelaySecret":"s3cret","other":[1]})");
  const auto suite = stores.suiteForWriting(appGroupSuiteName);
  ASSERT_NE(suite, nullptr);
  suite->setObjectForKey(AnyValue("Acme"), "organizationName");
  suite->removeObjectForKey("other");
  suite->setObjectForKey(std::nullopt, "missing");

  EXPECT_EQ(suiteFile(), (AnyMap{{"agentRelaySecret", "s3cret"}, {"organizationName", "Acme"}}));
  EXPECT_EQ(suite->objectForKey("organizationName"), AnyValue("Acme"));
  struct stat info {};
  ASSERT_EQ(::stat((dir.path() / kSuite).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary files are left behind.
  std::size_t entries = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator((dir.path() / kSuite).parent_path())) {
    entries += entry.path().filename().string().starts_with("preferences.json.") ? 1 : 0;
  }
  EXPECT_EQ(entries, 0u);
}

TEST_F(FileStores, WriteThatCannotReachTheFileIsNotSeenByReads) {
  std::filesystem::create_directories(dir.path() / kSuite);  // a folder in place of the file
  const auto suite = stores.suiteForWriting(appGroupSuiteName);
  ASSERT_NE(suite, nullptr);
  suite->setObjectForKey(AnyValue("Acme"), "organizationName");
  EXPECT_FALSE(suite->objectForKey("organizationName"));
}

TEST_F(FileStores, UnusableSuiteFolderMakesTheSuiteUnavailable) {
  // A file where the container folder should be.
  dir.write("home/ostrela/group-containers", "not a folder");
  EXPECT_EQ(stores.suiteForWriting(appGroupSuiteName), nullptr);
}

TEST_F(FileStores, EachNewReaderSeesTheFilesAsTheyAreNow) {
  dir.write("etc1/" + kManaged, R"({"organizationId":"one","Misspelt":1})");
  const auto first = ManagedConfigurationReader::fromUserDefaults(stores);
  dir.write("etc1/" + kManaged, R"({"organizationId":"two"})");
  dir.write(kSuite, R"({"machineId":"m"})");
  const auto second = ManagedConfigurationReader::fromUserDefaults(stores);

  EXPECT_EQ(first.managedConfiguration(), (AnyMap{{"organizationId", "one"}}));
  EXPECT_EQ(forcedKeyReport(first).unrecognizedForcedKeys, std::vector<std::string>{"Misspelt"});
  EXPECT_EQ(second.managedConfiguration(), (AnyMap{{"organizationId", "two"}, {"machineId", "m"}}));
  EXPECT_TRUE(forcedKeyReport(second).unrecognizedForcedKeys.empty());
}

TEST(XdgDirectoriesTest, DefaultsAndRelativeEntries) {
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
  ::setenv("XDG_CONFIG_DIRS", "relative:/abs/one::/abs/two", 1);
  ::setenv("HOME", "/home/someone", 1);
  const auto dirs = XdgDirectories::fromEnvironment();
  EXPECT_EQ(dirs.configHome, "/home/someone/.config");
  EXPECT_EQ(dirs.configDirs, (std::vector<std::filesystem::path>{"/abs/one", "/abs/two"}));
  ::unsetenv("XDG_CONFIG_DIRS");
  EXPECT_EQ(XdgDirectories::fromEnvironment().configDirs,
            std::vector<std::filesystem::path>{"/etc/xdg"});
}

}  // namespace
}  // namespace ostrela::linux_platform
