// The host application's window for real, under Xvfb. Each test runs the
// application once in this process, exactly as its main does, with a scripted
// browser integration; the test's steps run inside the application's main
// loop once the web view exists, and look at the page through the web view.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/gtk/gobject_support.h"
#include "platform/linux/gtk/host_application.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "tests/support/scripted_browser_integration.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr const char* kStateQuery = "getStateOfExtension com.ostrela.safari-extension.extension";
constexpr const char* kShowSettings =
    "showPreferencesForExtension com.ostrela.safari-extension.extension";

// Runs the main context, nested in the application's, until `done` or the time is up.
bool iterateUntil(const std::function<bool()>& done, double seconds = 10) {
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
  }
  return true;
}

void pause(double seconds) {
  iterateUntil([] { return false; }, seconds);
}

guint toplevelCount() {
  return g_list_model_get_n_items(gtk_window_get_toplevels());
}

GtkWindow* firstToplevel() {
  if (toplevelCount() == 0) return nullptr;
  auto* window = as<GtkWindow>(g_list_model_get_item(gtk_window_get_toplevels(), 0));
  g_object_unref(window);  // the list keeps it
  return window;
}

// The value the page's function `body` returns, as text; "error: ..." when it throws.
std::string pageValue(WebKitWebView* webView, const char* body) {
  struct Reply {
    bool done = false;
    std::string text;
  } reply;
  webkit_web_view_call_async_javascript_function(
      webView, body, -1, nullptr, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto& out = *static_cast<Reply*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
            as<WebKitWebView>(source), result, &error);
        if (value == nullptr) {
          out.text = std::string("error: ") + error->message;
          g_error_free(error);
        } else {
          gchar* text = jsc_value_to_string(value);
          out.text = text;
          g_free(text);
          g_object_unref(value);
        }
        out.done = true;
      },
      &reply);
  if (!iterateUntil([&] { return reply.done; })) return "error: no reply";
  return reply.text;
}

// The page's state and headline, as the page itself holds them.
std::string pageState(WebKitWebView* webView) {
  return pageValue(webView,
                   "return document.body.dataset.state + ' | ' + "
                   "document.getElementById('status-title').textContent");
}

// Records the launch's log lines, and what the application looked like when each was written.
class LaunchSink : public LogSink {
 public:
  void write(LogLevel level, std::string_view, std::string_view,
             std::string_view message) override {
    lines.push_back((level == LogLevel::debug ? "debug " : "error ") + std::string(message));
    onMainThread = std::this_thread::get_id() == mainThread;
    windowsAtPublication = toplevelCount();
  }
  std::thread::id mainThread = std::this_thread::get_id();
  std::vector<std::string> lines;
  bool onMainThread = false;
  guint windowsAtPublication = 99;
};

class HostWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // GTK, WebKit's helper processes and GLib's view of the environment last as long as the
    // process: one application run per process, as CTest runs these tests.
    static bool used = false;
    if (std::exchange(used, true)) GTEST_SKIP() << "run one test per process (--gtest_filter)";
    // GLib reads these once, before anything else: WebKit's caches and data stay in the test's
    // folder.
    for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
      std::filesystem::create_directories(temp_.path() / name);
      ::setenv(name, (temp_.path() / name).c_str(), 1);
    }
    temp_.write("managed/com.ostrela.safari-extension.json",
                R"({"organizationName": "Example Org", "machineId": "m-1", "apiToken": "t"})");
    setBrowser("state", "enabled");
  }

  void setBrowser(const char* file, const char* answer) const {
    temp_.write(std::filesystem::path("browser") / file, answer);
  }

  std::vector<std::string> calls() const {
    std::ifstream in(temp_.path() / "browser/calls");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  bool waitForCalls(std::size_t count) {
    return iterateUntil([&] { return calls().size() >= count; });
  }

  // Runs the application until it quits; `steps` run in its main loop once the
  // web view exists. Fails the test if the application outlives the steps by 10 s.
  int runApplication(std::function<void(WebKitWebView*)> steps) {
    const FilePreferenceStores stores({temp_.path() / "config"}, {temp_.path() / "managed", false},
                                      kHostApplicationId);
    const Logger logger(kHostApplicationId, "managed-config", sink_, {.debugEnabled = true});
    AppDelegate delegate(stores, logger);
    ScriptedBrowserIntegration browser(temp_.path() / "browser");

    struct Driver {
      std::function<void(WebKitWebView*)> steps;
      bool started = false;
      guint watchdog = 0;
    } driver{std::move(steps)};
    const guint poll = g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
          auto& run = *static_cast<Driver*>(data);
          GtkWindow* window = firstToplevel();
          GtkWidget* child = window ? gtk_window_get_child(window) : nullptr;
          if (child == nullptr) return G_SOURCE_CONTINUE;
          run.started = true;
          run.steps(as<WebKitWebView>(child));
          run.watchdog = g_timeout_add_seconds(
              10,
              [](gpointer driverData) -> gboolean {
                ADD_FAILURE() << "the application is still running";
                static_cast<Driver*>(driverData)->watchdog = 0;
                g_application_quit(g_application_get_default());
                return G_SOURCE_REMOVE;
              },
              data);
          return G_SOURCE_REMOVE;
        },
        &driver);

    char name[] = "host-window-test";
    char* argv[] = {name, nullptr};
    const int status = runHostApplication(1, argv, delegate, browser, OSTRELA_HOST_RESOURCES);
    if (!driver.started) g_source_remove(poll);
    if (driver.watchdog != 0) g_source_remove(driver.watchdog);
    EXPECT_TRUE(driver.started);
    return status;
  }

  testing::TemporaryDirectory temp_;
  LaunchSink sink_;
};

TEST_F(HostWindowTest, PublishesAtLaunchShowsTheStateAfterEachLoadAndQuitsWhenClosed) {
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("enabled"); }));
    EXPECT_EQ(pageState(webView), "enabled | The Ostrela extension is on");
    // The page's script, style sheet and image came from its folder.
    EXPECT_EQ(
        pageValue(webView, "return getComputedStyle(document.querySelector('.steps')).display"),
        "none");
    EXPECT_EQ(pageValue(webView,
                        "const icon = document.querySelector('.brand-icon');"
                        "return icon.complete && icon.naturalWidth > 0"),
              "true");
    setBrowser("state", "disabled");
    setBrowser("description", "Firefox has it off.");
    webkit_web_view_reload(webView);
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("disabled"); }));
    EXPECT_EQ(pageState(webView), "disabled | The Ostrela extension is off");
    EXPECT_EQ(
        pageValue(webView, "return document.getElementById('status-detail').textContent"),
        "Firefox has it off. Your browser cannot use Ostrela until you turn its extension on.");
    gtk_window_close(firstToplevel());
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery));

  EXPECT_THAT(sink_.lines,
              ElementsAre("debug Published and read back 2 managed key(s) via the App Group"));
  EXPECT_TRUE(sink_.onMainThread);
  EXPECT_EQ(sink_.windowsAtPublication, 0u);
}

// The application quits whether or not the settings could be shown: they fail here.
TEST_F(HostWindowTest, OtherMessagesAreIgnoredAndTheButtonOpensTheSettingsThenQuits) {
  setBrowser("state", "unavailable");
  setBrowser("settings", "fail");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    // Messages are delivered before the reply to the script that posted them.
    EXPECT_EQ(
        pageValue(webView,
                  "for (const m of ['Open-Preferences', 'open-preferences ', 'open-preferences\\0',"
                  "                 'hello', 42, {body: 'open-preferences'}, null])"
                  "  window.webkit.messageHandlers.controller.postMessage(m);"
                  "return 'posted'"),
        "posted");
    pause(0.5);
    EXPECT_EQ(toplevelCount(), 1u);
    EXPECT_THAT(calls(), ElementsAre(kStateQuery));
    // Not told: still checking, or, on a slow machine, the page's own "unknown" after its timeout.
    EXPECT_THAT(pageState(webView), AnyOf(StartsWith("checking |"), StartsWith("unknown |")));
    // The user presses the page's button.
    EXPECT_EQ(pageValue(webView, "document.getElementById('open-settings').click(); return 1"),
              "1");
    ASSERT_TRUE(waitForCalls(2));
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kShowSettings));
}

}  // namespace
}  // namespace ostrela::linux_platform
