// The publisher over the Linux file-backed stores, and the extension reading
// the copy through its own domain, as the two processes do.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/configuration_publisher.h"
#include "platform/linux/file_descriptor.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "shared/managed_configuration_reader.h"
#include "tests/support/recording_log_sink.h"
#include "tests/support/temporary_directory.h"

namespace ostrela {
namespace {

using linux_platform::FilePreferenceStores;
using linux_platform::ManagedPreferencesSource;
using linux_platform::XdgDirectories;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

const std::string kUnavailableLine =
    "Managed configuration not published: the App Group "
    "K7W2RQ9D4F.group.com.ostrela.safari-extension is unavailable";

class FilePublicationTest : public ::testing::Test {
 protected:
  XdgDirectories directories() const { return {temp_.path() / "home"}; }
  ManagedPreferencesSource managed() const { return {temp_.path() / "managed", false, &logger_}; }
  FilePreferenceStores hostStores() const {
    return {directories(), managed(), "com.ostrela.safari-extension",
            std::chrono::milliseconds(100)};
  }

  void forceInHost(std::string_view json) const {
    temp_.write("managed/com.ostrela.safari-extension.json", json);
  }

  // Runs the host's launch: the standard domain and the App Group suite opened afresh.
  AnyMap launch() {
    const FilePreferenceStores stores = hostStores();
    return publishManagedConfiguration(stores.standardUserDefaults(),
                                       stores.suiteForWriting(appGroupSuiteName), logger_);
  }

  std::vector<std::string> linesSince(std::size_t count) const {
    std::vector<std::string> lines = sink_.messages();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    return lines;
  }

  std::string suiteText() const {
    std::ifstream in(kSuiteFile);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing::TemporaryDirectory temp_;
  const std::filesystem::path kSuiteFile = hostStores().suiteFile(appGroupSuiteName);
  testing::RecordingLogSink sink_;
  Logger logger_{"com.ostrela.safari-extension", "managed-config", sink_, {.debugEnabled = true}};
};

TEST_F(FilePublicationTest, TheExtensionReadsExactlyWhatTheHostPublished) {
  // The forced-only keys stay behind, as does a value the extension would not accept.
  forceInHost(R"({"organizationName": "Org", "organizationId": "o-1", "enabledServices": [],
                  "machineId": "", "apiToken": "t", "endpoint": "https://config.example"})");
  const AnyMap published = launch();

  const FilePreferenceStores extension(directories(), managed(),
                                       "com.ostrela.safari-extension.extension");
  EXPECT_EQ(ManagedConfigurationReader::fromUserDefaults(extension).managedConfiguration(),
            published);
  EXPECT_EQ(published, (AnyMap{{"organizationName", "Org"},
                               {"organizationId", "o-1"},
                               {"enabledServices", AnyArray{}}}));
  EXPECT_THAT(sink_.messages(),
              ElementsAre("Published and read back 3 managed key(s) via the App Group"));
}

TEST_F(FilePublicationTest, AStoreThatCannotBeReadOrLockedIsLeftUntouched) {
  forceInHost(R"({"organizationName": "Org"})");
  const std::filesystem::path file = kSuiteFile;
  const std::filesystem::path lock = file.parent_path() / ".preferences.lock";
  struct Case {
    const char* contents;
    bool locked;
    std::string reason;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF{\"agentRelaySecret\": \"s3cret\"}", false,
       file.string() + ": starts with a UTF-8 byte-order mark"},
      {R"({"agentRelaySecret": "s3cret"})", true,
       lock.string() + ": still locked by another process after 100 ms"},
  };
  for (const Case& c : cases) {
    temp_.write(kSuiteFile, c.contents);
    linux_platform::FileDescriptor holder(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (c.locked) {
      ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    }
    const std::size_t before = sink_.messages().size();
    launch();
    EXPECT_EQ(suiteText(), c.contents) << c.reason;
    EXPECT_THAT(linesSince(before),
                ElementsAre("Cannot use the App Group store: " + c.reason, kUnavailableLine));
  }
}

// A forced file that is there but unusable is no withdrawal of the policy: the copy stays.
TEST_F(FilePublicationTest, AForcedFileThatCannotBeParsedLeavesThePublishedCopy) {
  forceInHost(R"({"organizationName": "Org", "machineId": "m-1"})");
  launch();
  const std::string published = suiteText();
  const std::string forced = (temp_.path() / "managed/com.ostrela.safari-extension.json").string();
  const std::pair<const char*, const char*> cases[] = {
      {"\xEF\xBB\xBF{\"organizationName\": \"Org\"}", "starts with a UTF-8 byte-order mark"},
      {R"({"organizationName": "Org",})", "invalid JSON at byte 27: syntax error"},
      {R"({"organizationName": "\ud800"})", "invalid JSON at byte 28: syntax error"},
      {R"(["organizationName"])", "not a JSON object"},
  };
  for (const auto& [text, why] : cases) {
    forceInHost(text);
    const std::size_t before = sink_.messages().size();
    EXPECT_EQ(launch(), AnyMap{});
    EXPECT_EQ(suiteText(), published) << text;
    EXPECT_THAT(
        linesSince(before),
        ElementsAre("Cannot read managed preferences " + forced + ": " + why,
                    "Managed configuration not published: the forced values cannot be "
                    "read (" +
                        forced + ": " + why + "), so the App Group " +
                        std::string(appGroupSuiteName) + " keeps the copy published before"));
  }
  // No file is no policy: the keys go.
  std::filesystem::remove(forced);
  launch();
  EXPECT_EQ(suiteText(), "{}");
}

// A store that its readers would refuse (above 16 MiB) is never written.
TEST_F(FilePublicationTest, AStoreAboveTheReadersLimitIsNotWritten) {
  const std::string old = R"({"agentRelaySecret":")" + std::string(1536 * 1024, 's') + R"("})";
  temp_.write(kSuiteFile, old);
  forceInHost(R"({"organizationName": ")" + std::string(15 * 1024 * 1024, 'n') + R"("})");
  launch();
  EXPECT_EQ(suiteText(), old);
  ASSERT_EQ(sink_.messages().size(), 2u);
  EXPECT_THAT(sink_.messages()[0],
              ::testing::MatchesRegex(".*preferences.json: would be 17301[0-9]+ bytes, above the "
                                      "readers' limit of 16 MiB; kept as it was"));
  EXPECT_EQ(sink_.messages()[1], kUnavailableLine);
}

// Folders made owner-only whatever the umask; no link followed to a store or its folder,
// nor any mode changed through one; a folder that cannot be made says why.
TEST_F(FilePublicationTest, StoreFoldersArePrivateAndLinksAreRefused) {
  forceInHost(R"({"organizationName": "Org"})");
  const mode_t umask = ::umask(0);
  launch();
  ::umask(umask);
  for (auto folder = kSuiteFile.parent_path(); folder != temp_.path();
       folder = folder.parent_path()) {
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u) << folder;
  }

  const std::filesystem::path target = temp_.write("target.json", "{}");
  std::filesystem::remove(kSuiteFile);
  std::filesystem::create_symlink(target, kSuiteFile);
  launch();
  EXPECT_TRUE(std::filesystem::is_symlink(kSuiteFile));
  EXPECT_EQ(suiteText(), "{}");
  EXPECT_EQ(sink_.messages().end()[-2],
            "Ignored preferences " + kSuiteFile.string() + ": a symbolic link");

  const std::filesystem::path project = temp_.path() / "project";
  std::filesystem::create_directories(project);
  ::chmod(project.c_str(), 0755);
  std::filesystem::remove_all(kSuiteFile.parent_path());
  std::filesystem::create_directory_symlink(project, kSuiteFile.parent_path());
  launch();
  struct stat info {};
  ASSERT_EQ(::stat(project.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_FALSE(std::filesystem::exists(project / "preferences.json"));
  EXPECT_EQ(sink_.messages().end()[-2], "Ignored preferences " + kSuiteFile.string() + ": folder " +
                                            kSuiteFile.parent_path().string() +
                                            " is a symbolic link");

  std::filesystem::remove_all(directories().configHome);
  temp_.write(directories().configHome, "a file where the folder should be");
  launch();
  EXPECT_EQ(sink_.messages().end()[-2],
            "Cannot make the App Group folder: " + kSuiteFile.parent_path().string() +
                ": Not a directory");
}

// The old file holds as many keys as the new publication, so only the write's own
// result can tell. A 64 KiB tmpfs, filled, in a private mount namespace.
TEST_F(FilePublicationTest, AWriteThatFailsForWantOfSpaceIsReportedAndLeavesTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
  ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
  ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  const std::filesystem::path folder = kSuiteFile.parent_path();
  std::filesystem::create_directories(folder);
  ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,mode=0700"), 0);
  const std::string old = R"({"organizationName":"Old","machineId":"m-0","agentRelaySecret":"s"})";
  temp_.write(kSuiteFile, old);
  temp_.write(folder / "filler", std::string(64 * 1024, 'x'));  // as much as fits
  forceInHost(R"({"organizationName": "New", "machineId": "m-1"})");
  launch();
  EXPECT_EQ(suiteText(), old);
  EXPECT_THAT(sink_.messages(), ElementsAre("Cannot use the App Group store: " +
                                                kSuiteFile.string() + ": No space left on device",
                                            kUnavailableLine));
  EXPECT_EQ(::umount2(folder.c_str(), MNT_DETACH), 0);
}

// Another account made the configuration folder, open to all, and planted an App Group copy
// with its own secret, and own values: as root (the account the test checks as), a
// child process that has become `nobody` writes them.
TEST_F(FilePublicationTest, StoresThatAnotherAccountCouldHaveWrittenAreNeitherUsedNorWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to write as another account";
  constexpr uid_t kNobody = 65534;
  const std::filesystem::path ownFile = hostStores().ownFile();
  ASSERT_EQ(::chmod(temp_.path().c_str(), 0777), 0);
  const std::string planted = R"({"organizationId":"theirs","agentRelaySecret":"their-secret"})";
  const pid_t child = ::fork();
  if (child == 0) {  // the other account, which leaves everything it makes open to all
    ::umask(0);
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
    temp_.write(kSuiteFile, planted);
    temp_.write(ownFile, planted);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  forceInHost(R"({"organizationId": "ours"})");
  launch();
  EXPECT_EQ(suiteText(), planted);
  const auto ignored = [](const std::filesystem::path& file, const char* why) {
    return "Ignored preferences " + file.string() + ": folder " + file.parent_path().string() + why;
  };
  // The two domains are opened in either order, as the compiler evaluates arguments.
  EXPECT_THAT(
      sink_.messages(),
      UnorderedElementsAre(ignored(ownFile, " belongs to another account"),
                           ignored(kSuiteFile, " belongs to another account"), kUnavailableLine));
  // Nor do readers, as the extension reads its configuration copy and its secret.
  EXPECT_EQ(hostStores().suiteForReading(appGroupSuiteName), nullptr);

  // A folder of our own that others can write is refused by readers too.
  ASSERT_EQ(::chown(kSuiteFile.parent_path().c_str(), 0, 0), 0);
  ASSERT_EQ(::chown(kSuiteFile.c_str(), 0, 0), 0);
  EXPECT_EQ(hostStores().suiteForReading(appGroupSuiteName), nullptr);
  EXPECT_EQ(sink_.messages().back(), ignored(kSuiteFile, " is writable by group or others"));
}

}  // namespace
}  // namespace ostrela
