// The host application's window for real, under Xvfb. Each test runs the
// application once in this process, exactly as its main does, with a scripted
// browser integration; the test's steps run inside the application's main
// loop once the web view exists, and look at the page through the web view.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/gtk/gobject_support.h"
#include "platform/linux/gtk/host_application.h"
#include "platform/linux/preferences/file_preference_stores.h"
#include "tests/support/scripted_browser_integration.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::linux_platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
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

guint toplevelCount() {
  return g_list_model_get_n_items(gtk_window_get_toplevels());
}

GtkWindow* firstToplevel() {
  if (toplevelCount() == 0) return nullptr;
  auto* window = as<GtkWindow>(g_list_model_get_item(gtk_window_get_toplevels(), 0));
  g_object_unref(window);  // the list keeps it
  return window;
}

// Runs `start`, which begins an asynchronous call with the callback and data it is given,
// and the main context until the call ends; its result, or null after a minute (the finishing
// calls then fail).
GObjectPtr<GAsyncResult> await(const std::function<void(GAsyncReadyCallback, gpointer)>& start) {
  GAsyncResult* result = nullptr;
  start(
      [](GObject*, GAsyncResult* ended, gpointer data) {
        *static_cast<GAsyncResult**>(data) = as<GAsyncResult>(g_object_ref(ended));
      },
      &result);
  iterateUntil([&] { return result != nullptr; }, 60);
  return GObjectPtr<GAsyncResult>::adopt(result);
}

// The value the page's function `body` returns, as text; "error" when it throws.
std::string pageValue(WebKitWebView* webView, const char* body) {
  const auto result = await([&](GAsyncReadyCallback callback, gpointer data) {
    webkit_web_view_call_async_javascript_function(webView, body, -1, nullptr, nullptr, nullptr,
                                                   nullptr, callback, data);
  });
  JSCValue* value =
      webkit_web_view_call_async_javascript_function_finish(webView, result.get(), nullptr);
  if (value == nullptr) return "error";
  gchar* text = jsc_value_to_string(value);
  std::string reply(text);
  g_free(text);
  g_object_unref(value);
  return reply;
}

// Whether the page shows the state with this headline, which it also makes its title.
bool shows(WebKitWebView* webView, const char* headline) {
  return g_strcmp0(webkit_web_view_get_title(webView), headline) == 0;
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

// The window's own "Open Extension Settings" button, its default widget.
GtkWidget* settingsButton() {
  return gtk_window_get_default_widget(firstToplevel());
}

// Runs `arguments` to its end with the main context running, so that this process answers
// what the program asks of it; its standard output, or "error" when it failed.
std::string runProgram(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  const auto child = GObjectPtr<GSubprocess>::adopt(
      g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr));
  const auto result = await([&](GAsyncReadyCallback callback, gpointer data) {
    g_subprocess_communicate_utf8_async(child.get(), nullptr, nullptr, callback, data);
  });
  char* output = nullptr;
  g_subprocess_communicate_utf8_finish(child.get(), result.get(), &output, nullptr, nullptr);
  std::string text = output && g_subprocess_get_successful(child.get()) ? output : "error";
  g_free(output);
  return text;
}

// Types `keys` (xdotool's names) into the window, through X's test keyboard.
std::string pressKeys(const char* keys) {
  return runProgram({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Ostrela$",
                     "windowfocus", "--sync", "key", keys});
}

TEST_F(HostWindowTest, PublishesAtLaunchShowsTheStateAfterEachLoadAndQuitsOnceTheSettingsShowOnce) {
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(iterateUntil([&] { return shows(webView, "The Ostrela extension is on"); }));
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
    ASSERT_TRUE(iterateUntil([&] { return shows(webView, "The Ostrela extension is off"); }));
    EXPECT_EQ(
        pageValue(webView, "return document.getElementById('status-detail').textContent"),
        "Firefox has it off. Your browser cannot use Ostrela until you turn its extension on.");
    // Fifty messages and three clicks at once: the settings are shown once, and the
    // application quits.
    pageValue(webView,
              "for (let i = 0; i < 50; ++i)"
              "  window.webkit.messageHandlers.controller.postMessage('open-preferences')");
    for (int i = 0; i < 3; ++i) g_signal_emit_by_name(settingsButton(), "clicked");
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery, kShowSettings));

  EXPECT_THAT(sink_.lines,
              ElementsAre("debug Published and read back 2 managed key(s) via the App Group"));
  EXPECT_TRUE(sink_.onMainThread);
  EXPECT_EQ(sink_.windowsAtPublication, 0u);
}

// Links, scripts and drops (which WebKit turns into loads of the view) reach no other page, so
// no other page can post to the window; downloads and the context menu save nothing.
TEST_F(HostWindowTest, ShowsOnlyItsPageAndSavesNothing) {
  const auto elsewhere = temp_.write(
      "elsewhere/page.html",
      "<script>window.webkit.messageHandlers.controller.postMessage('open-preferences')</script>");
  temp_.write("elsewhere/file.txt", "text");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    int started = 0;
    connectSignal(
        webView, "load-changed",
        +[](WebKitWebView*, WebKitLoadEvent event, int* count) {
          *count += event == WEBKIT_LOAD_STARTED;
        },
        &started);
    const std::string other = "file://" + elsewhere.string();
    webkit_web_view_load_uri(webView, other.c_str());
    webkit_web_view_load_uri(webView, "http://127.0.0.1:9/");
    EXPECT_EQ(pageValue(webView, ("location.href = '" + other + "'; return 1").c_str()), "1");
    pageValue(webView, "return 1");  // a load let through starts before the view answers
    EXPECT_EQ(started, 0);

    // A download ends, failed or not, with "finished"; its file is looked for at the end.
    const auto download = GObjectPtr<WebKitDownload>::adopt(
        webkit_web_view_download_uri(webView, (other + "/../file.txt").c_str()));
    bool ended = false;
    connectSignal(
        download.get(), "finished", +[](WebKitDownload*, bool* flag) { *flag = true; }, &ended);
    ASSERT_TRUE(iterateUntil([&] { return ended; }));

    // The menu keeps what copies; this test's handler, after the window's, shows none.
    const auto menu = GObjectPtr<WebKitContextMenu>::adopt(webkit_context_menu_new());
    for (const auto action : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_COPY,
                              WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK}) {
      webkit_context_menu_append(menu.get(),
                                 webkit_context_menu_item_new_from_stock_action(action));
    }
    connectSignal(
        webView, "context-menu",
        +[](WebKitWebView*, WebKitContextMenu*, WebKitHitTestResult*, gpointer) { return TRUE; },
        nullptr);
    gboolean handled = FALSE;
    g_signal_emit_by_name(webView, "context-menu", menu.get(), nullptr, &handled);
    ASSERT_EQ(webkit_context_menu_get_n_items(menu.get()), 1u);
    EXPECT_EQ(webkit_context_menu_item_get_stock_action(
                  webkit_context_menu_get_item_at_position(menu.get(), 0)),
              WEBKIT_CONTEXT_MENU_ACTION_COPY);
    pressKeys("Escape");  // the window closes, and with it the application
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery));
  EXPECT_FALSE(std::filesystem::exists(temp_.path() / "HOME/file.txt"));  // where it went
}

// Over the accessibility bus and X's test keyboard, as a screen reader and a keyboard user.
// Messages other than the request are ignored; a failure keeps the window, says why and is
// logged; the next request is taken; closing the window then ends the run with an error.
TEST_F(HostWindowTest, AScreenReaderHearsTheStateAndAFailureAndTheKeyboardKeepsToTheWindow) {
  ::setenv("GTK_A11Y", "atspi", 1);
  setBrowser("state", "disabled");
  setBrowser("settings", "fail");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    // Messages are handled before the reply to the script that posted them, and the integration
    // answers in order: a request from any of these would come before the reload's query.
    EXPECT_EQ(
        pageValue(webView,
                  "for (const m of ['Open-Preferences', 'open-preferences ', 'open-preferences\\0',"
                  "                 'hello', 42, {body: 'open-preferences'}, null])"
                  "  window.webkit.messageHandlers.controller.postMessage(m);"
                  "return 'posted'"),
        "posted");
    webkit_web_view_reload(webView);
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_TRUE(iterateUntil([&] { return shows(webView, "The Ostrela extension is off"); }));
    // The window's own call for the state text, made on the title's change, answers first.
    pageValue(webView, "return 1");

    const std::string pid = std::to_string(::getpid());
    const std::string probe = OSTRELA_TEST_SOURCE_DIR "/screen_reader_probe.py";
    // The state: the view's name and description, and the button's description.
    const std::string shown = runProgram({probe, pid, "show"});
    EXPECT_THAT(shown, HasSubstr("push button | Open Extension Settings | The Ostrela extension "
                                 "is off | focused\n"));
    EXPECT_THAT(shown, HasSubstr("filler | The Ostrela extension is off | Your browser cannot use "
                                 "Ostrela until you turn its extension on.\n"));
    EXPECT_EQ(runProgram({probe, pid, "press", "Open Extension Settings"}), "pressed\n");
    ASSERT_TRUE(iterateUntil(
        [&] { return shows(webView, "Your browser's extension settings could not be opened"); }));
    pageValue(webView, "return 1");
    EXPECT_THAT(runProgram({probe, pid, "show"}),
                HasSubstr("filler | Your browser's extension settings could not be opened | "
                          "scripted settings failure. Ask your IT department for help.\n"));

    // Tab after Tab the focus stays on the window's one control (its header bar's minimize,
    // maximize and close take none); Return then presses it, after the Tabs.
    for (int i = 0; i < 4; ++i) ASSERT_EQ(pressKeys("Tab"), "");
    ASSERT_EQ(pressKeys("Return"), "");
    ASSERT_TRUE(iterateUntil([&] { return sink_.lines.size() == 3; }));
    EXPECT_EQ(gtk_window_get_focus(firstToplevel()), settingsButton());
    pressKeys("ctrl+w");  // the window closes, and with it the application
  });
  EXPECT_EQ(status, 1);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery, kShowSettings, kShowSettings));
  const std::string failure =
      "error Cannot open the browser's settings for com.ostrela.safari-extension.extension: "
      "scripted settings failure";
  EXPECT_THAT(sink_.lines, ElementsAre(StartsWith("debug Published"), failure, failure));
}

}  // namespace
}  // namespace ostrela::linux_platform
