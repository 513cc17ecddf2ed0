// The publisher over the Linux file-backed stores, and the extension reading
// the copy through its own domain, as the two processes do.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/configuration_publisher.h"
#include "platform/linux/file_preference_stores.h"
#include "shared/managed_configuration_reader.h"
#include "tests/support/recording_log_sink.h"
#include "tests/support/temporary_directory.h"

namespace ostrela {
namespace {

using linux_platform::FilePreferenceStores;
using linux_platform::XdgDirectories;
using ::testing::ElementsAre;

class FilePublicationTest : public ::testing::Test {
 protected:
  XdgDirectories directories() const { return {temp_.path() / "home", {temp_.path() / "etc"}}; }

  void forceInHost(std::string_view json) const {
    temp_.write("etc/ostrela/managed-preferences/com.ostrela.safari-extension.json", json);
  }

  // Runs the host's launch: the standard domain and the App Group suite opened afresh.
  AnyMap launch() {
    const FilePreferenceStores stores(directories(), "com.ostrela.safari-extension");
    return publishManagedConfiguration(stores.standardUserDefaults(),
                                       stores.suiteForWriting(appGroupSuiteName), logger_);
  }

  testing::TemporaryDirectory temp_;
  testing::RecordingLogSink sink_;
  Logger logger_{"com.ostrela.safari-extension", "managed-config", sink_, {.debugEnabled = true}};
};

TEST_F(FilePublicationTest, TheExtensionReadsExactlyWhatTheHostPublished) {
  forceInHost(R"({"organizationName": "Org", "organizationId": "o-1", "enabledServices": [],
                  "machineId": "", "apiToken": "t"})");
  const AnyMap published = launch();

  const FilePreferenceStores extension(directories(), "com.ostrela.safari-extension.extension");
  EXPECT_EQ(ManagedConfigurationReader::fromUserDefaults(extension).managedConfiguration(),
            published);
  EXPECT_EQ(published.size(), 3u);
  EXPECT_THAT(sink_.messages(),
              ElementsAre("Published and read back 3 managed key(s) via the App Group"));
}

}  // namespace
}  // namespace ostrela
