// The extension core's per-message costs. Every benchmark reports the heap
// allocations it makes per iteration ("allocs").
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/json.h"
#include "extension/forced_key_report.h"
#include "extension/native_route.h"
#include "extension/outcome_log.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/temporary_directory.h"

namespace ostrela {
namespace {

class NullSink : public LogSink {
 public:
  void write(LogLevel, std::string_view, std::string_view, std::string_view message) override {
    benchmark::DoNotOptimize(message.data());
  }
};

// Runs `body` for every iteration and reports allocations per iteration.
template <typename F>
void measure(benchmark::State& state, F body) {
  const long before = testing::allocationCount();
  for (auto _ : state) body();
  state.counters["allocs"] = benchmark::Counter(
      static_cast<double>(testing::allocationCount() - before), benchmark::Counter::kAvgIterations);
}

const std::string kRelayed =
    R"({"type":"getToken","host":"com.ostrela.ldap_host","id":"7f9c2ba4-e88f-11ee-a5f1",)"
    R"("payload":{"realm":"corp.example","user":"jdoe","scopes":["read","write"]}})";

void BM_DecodeMessage(benchmark::State& state) {
  measure(state, [] { benchmark::DoNotOptimize(decodeJson(kRelayed)); });
}
BENCHMARK(BM_DecodeMessage);

// An object of n members: the time per member stays flat (the keys' index),
// where a scan of every member per member grew with n. Google Benchmark fits
// the complexity over the range and prints it (expected: N).
void BM_DecodeObjectOfMembers(benchmark::State& state) {
  std::string text = "{";
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  }
  text += R"("k0":true})";
  for (auto _ : state) benchmark::DoNotOptimize(decodeJson(text));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DecodeObjectOfMembers)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

void BM_RouteRelayed(benchmark::State& state) {
  const auto message = decodeJson(kRelayed);
  measure(state, [&] { benchmark::DoNotOptimize(route(message)); });
}
BENCHMARK(BM_RouteRelayed);

void BM_RouteGetManagedConfig(benchmark::State& state) {
  const auto message = decodeJson(R"({"type":"getManagedConfig","id":42})");
  measure(state, [&] { benchmark::DoNotOptimize(route(message)); });
}
BENCHMARK(BM_RouteGetManagedConfig);

void BM_ErrorReply(benchmark::State& state) {
  const std::optional<AnyValue> id = AnyValue(42);
  measure(state, [&] {
    benchmark::DoNotOptimize(errorReply("Unknown native message type 'getSomething'", id));
  });
}
BENCHMARK(BM_ErrorReply);

void BM_ManagedConfigReply(benchmark::State& state) {
  const AnyMap config{{"organizationName", "Acme"},
                      {"organizationId", "acme-1"},
                      {"machineId", "m-1"},
                      {"enabledServices", AnyValue(AnyArray{"a", "b"})}};
  const std::vector<std::string> keys{"Endpoint", "PayloadContent"};
  const std::optional<AnyValue> id = AnyValue(42);
  measure(state, [&] { benchmark::DoNotOptimize(managedConfigReply(config, keys, true, id)); });
}
BENCHMARK(BM_ManagedConfigReply);

void logOutcomeBench(benchmark::State& state, bool debug) {
  NullSink sink;
  const Logger logger("com.ostrela.safari-extension.extension", "native-bridge", sink,
                      LogSettings{debug, false});
  const NativeReply reply{AnyMap{{"ok", false}, {"error", "directory lookup failed for user"}},
                          true};
  measure(state, [&] { logOutcome(logger, Handling::relayed, "getLdap", reply); });
}
void BM_LogOutcomeDebugOff(benchmark::State& state) {
  logOutcomeBench(state, false);
}
void BM_LogOutcomeDebugOn(benchmark::State& state) {
  logOutcomeBench(state, true);
}
BENCHMARK(BM_LogOutcomeDebugOff);
BENCHMARK(BM_LogOutcomeDebugOn);

// A whole "getManagedConfig" answer over real files: six forced keys and
// twenty unrecognised ones, plus an App Group copy.
void BM_ManagedConfigurationFromFiles(benchmark::State& state) {
  testing::TemporaryDirectory dir;
  std::string managed =
      R"({"endpoint":"https://svc.example","apiToken":"t0k3n","organizationName":"Acme",)"
      R"("organizationId":"acme-1","enabledServices":["ldap","scrub"],"machineId":"m-1")";
  for (int i = 0; i < 20; ++i)
    managed += ",\"unknownKey" + std::to_string(i) + "\":" + std::to_string(i);
  managed += "}";
  dir.write("managed/com.ostrela.safari-extension.extension.json", managed);
  const linux_platform::FilePreferenceStores stores(
      linux_platform::XdgDirectories{dir.path() / "home"}, {dir.path() / "managed", false},
      "com.ostrela.safari-extension.extension");
  dir.write(std::filesystem::relative(stores.suiteFile(appGroupSuiteName), dir.path()),
            R"({"organizationName":"Acme","agentRelaySecret":"s"})");
  measure(state, [&] {
    const auto reader = ManagedConfigurationReader::fromUserDefaults(stores);
    auto config = reader.managedConfiguration();
    auto report = forcedKeyReport(reader);
    benchmark::DoNotOptimize(managedConfigReply(std::move(config), report.unrecognizedForcedKeys,
                                                report.isDoubleWrappedProfile, AnyValue(1)));
  });
}
BENCHMARK(BM_ManagedConfigurationFromFiles);

}  // namespace
}  // namespace ostrela

BENCHMARK_MAIN();
