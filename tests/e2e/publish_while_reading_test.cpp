// The host's publisher rewriting the App Group copy in a loop while extension
// processes answer "getManagedConfig" from it: no reader ever sees a partial
// file, a value that was never published, or a forced-only key.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/json.h"
#include "host/configuration_publisher.h"
#include "platform/linux/file_preference_stores.h"
#include "shared/in_memory_preference_domain.h"
#include "shared/managed_configuration_key.h"
#include "tests/support/host_process.h"
#include "tests/support/recording_log_sink.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<InMemoryPreferenceDomain> profile(const std::string& suffix, bool full) {
  auto domain = std::make_shared<InMemoryPreferenceDomain>();
  domain->force("endpoint", AnyValue("https://" + suffix + ".example"));
  domain->force("apiToken", AnyValue("token-" + suffix));
  domain->force("organizationName", AnyValue("Org " + suffix));
  domain->force("enabledServices", AnyValue(AnyArray{AnyValue("svc-" + suffix)}));
  if (full) {
    domain->force("organizationId", AnyValue("id-" + suffix));
    domain->force("machineId", AnyValue(std::string(5000, suffix[0])));  // a long value
  }
  return domain;
}

TEST(PublishWhileReading, ReadersSeeOnlyPublishedValues) {
  TemporaryDirectory folder;
  const linux_platform::FilePreferenceStores hostStores(
      linux_platform::XdgDirectories{folder.path() / "home"}, {}, "com.ostrela.safari-extension");
  hostStores.suiteForWriting(appGroupSuiteName)
      ->setObjectForKey(AnyValue("kept"), "agentRelaySecret");
  const auto a = profile("a", true);
  const auto b = profile("b", false);
  // Every value a reader may see, per key.
  std::map<std::string, std::set<std::string>> allowed;
  for (const auto& domain : {a, b}) {
    const AnyMap published = forcedConfiguration(domain.get());
    for (const auto& [key, value] : published) {
      if (!isForcedOnlyKey(*managedConfigurationKeyFromString(key))) {
        allowed[key].insert(*encodeJson(AnyValue(AnyArray{value})));
      }
    }
  }

  std::atomic<bool> publishing{true};
  std::thread publisher([&] {
    RecordingLogSink sink;
    const Logger logger("com.ostrela.safari-extension", "managed-config", sink, {true, false});
    for (int launch = 0; launch < 300; ++launch) {
      publishManagedConfiguration(launch % 2 ? b : a, hostStores.suiteForWriting(appGroupSuiteName),
                                  logger);
    }
    publishing = false;
  });

  const std::vector<std::string> environment{"XDG_CONFIG_HOME=" +
                                             (folder.path() / "home").string()};
  std::size_t replies = 0;
  std::size_t bad = 0;
  while (publishing || replies == 0) {
    HostProcess extension(OSTRELA_EXTENSION_PATH, {"chrome-extension://x/"}, environment);
    for (int i = 0; i < 20; ++i) extension.writeFrame(R"({"type":"getManagedConfig"})");
    extension.closeInput();
    for (const std::string& reply : extension.readAllFrames(5s)) {
      ++replies;
      const auto value = decodeJson(reply);
      const AnyValue* config = member(value, "config");
      if (config == nullptr || !config->isMap()) {
        ++bad;
        continue;
      }
      for (const auto& [key, entry] : *config->asMap()) {
        const auto it = allowed.find(key);
        if (it == allowed.end() || !it->second.contains(*encodeJson(AnyValue(AnyArray{entry})))) {
          ADD_FAILURE() << "unexpected " << key << " in " << reply.substr(0, 200);
          ++bad;
        }
      }
    }
    EXPECT_EQ(extension.wait(5s), 0);
  }
  publisher.join();
  EXPECT_EQ(bad, 0u);
  EXPECT_GT(replies, 100u);
  EXPECT_EQ(hostStores.suiteForReading(appGroupSuiteName)->objectForKey("agentRelaySecret"),
            AnyValue("kept"));
  std::printf("%zu replies read during 300 publications\n", replies);
}

}  // namespace
}  // namespace ostrela::testing
