#include "platform/linux/preferences/file_preference_stores.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <future>

#include "core/json.h"
#include "platform/linux/preferences/preference_file.h"
#include "shared/managed_configuration_reader.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

constexpr const char* kDomain = "com.ostrela.safari-extension.extension";
const std::string kManaged = std::string("managed/") + kDomain + ".json";
const std::string kOwn = std::string("ostrela/preferences/") + kDomain + ".json";

class FileStores : public ::testing::Test {
 protected:
  testing::TemporaryDirectory dir;
  FilePreferenceStores stores{
      XdgDirectories{dir.path() / "home"}, {dir.path() / "managed", false}, kDomain};
  const std::filesystem::path kSuite = stores.suiteFile(appGroupSuiteName);
  AnyMap suiteFile() const { return readPreferenceFile(kSuite).value_or(AnyMap{}); }
};

TEST_F(FileStores, ForcedLayerCoversTheOwnValues) {
  dir.write(kManaged, R"({"forced":"F","both":"forced","nulled":null})");
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
    dir.write(kManaged, contents);
    const auto domain = stores.standardUserDefaults();
    EXPECT_TRUE(domain->dictionaryRepresentation().empty()) << contents;
    EXPECT_FALSE(domain->objectIsForcedForKey("a"));
  }
  std::filesystem::remove(dir.path() / kManaged);
  std::filesystem::create_directories(dir.path() / kManaged);  // a folder, not a file
  EXPECT_TRUE(stores.standardUserDefaults()->dictionaryRepresentation().empty());
  // Reading a suite that is not there creates nothing.
  EXPECT_TRUE(stores.suiteForReading(appGroupSuiteName)->dictionaryRepresentation().empty());
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
  ASSERT_EQ(::stat(kSuite.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary files are left behind.
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSuite.parent_path())) {
    entries += entry.path().filename().string().starts_with("preferences.json.") ? 1 : 0;
  }
  EXPECT_EQ(entries, 0u);
}

TEST_F(FileStores, EachNewReaderSeesTheFilesAsTheyAreNow) {
  dir.write(kManaged, R"({"organizationId":"one"})");
  const auto first = ManagedConfigurationReader::fromUserDefaults(stores);
  dir.write(kManaged, R"({"organizationId":"two"})");
  dir.write(kSuite, R"({"machineId":"m"})");
  const auto second = ManagedConfigurationReader::fromUserDefaults(stores);

  EXPECT_EQ(first.managedConfiguration(), (AnyMap{{"organizationId", "one"}}));
  EXPECT_EQ(second.managedConfiguration(), (AnyMap{{"organizationId", "two"}, {"machineId", "m"}}));
}

TEST(XdgDirectoriesTest, RelativeConfigHomeFallsBackToTheHomeFolder) {
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(XdgDirectories::fromEnvironment().configHome, "/home/someone/.config");
}

// Opening a FIFO for reading waits for a writer: a reader that did would hang
// every message. Each path is read on a thread that the test can free.
TEST_F(FileStores, AFifoAtAnyPreferencePathCountsAsAbsent) {
  const std::pair<std::string, std::function<AnyMap()>> cases[] = {
      {kManaged, [&] { return stores.standardUserDefaults()->dictionaryRepresentation(); }},
      {"home/" + kOwn, [&] { return stores.standardUserDefaults()->dictionaryRepresentation(); }},
      {kSuite,
       [&] { return stores.suiteForReading(appGroupSuiteName)->dictionaryRepresentation(); }},
  };
  for (const auto& [relative, read] : cases) {
    const std::filesystem::path fifo = dir.path() / relative;
    std::filesystem::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << relative;
    auto result = std::async(std::launch::async, read);
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // frees the reader
      ADD_FAILURE() << "reading blocked on the FIFO at " << relative;
    }
    EXPECT_TRUE(result.get().empty()) << relative;
    std::filesystem::remove(fifo);
  }
}

}  // namespace
}  // namespace ostrela::linux_platform
