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

using ::testing::AnyOf;
using ::testing::Each;
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

// A widget of `root`'s tree: the first for which `match` is true, or null.
GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
  if (root == nullptr || match(root)) return root;
  for (GtkWidget* child = gtk_widget_get_first_child(root); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (GtkWidget* found = findWidget(child, match)) return found;
  }
  return nullptr;
}

// The window's own "Open Extension Settings" button, in its header bar.
GtkWidget* settingsButton() {
  return findWidget(gtk_window_get_titlebar(firstToplevel()), [](GtkWidget* widget) {
    return GTK_IS_BUTTON(widget) &&
           g_strcmp0(gtk_button_get_label(as<GtkButton>(widget)), "Open Extension Settings") == 0;
  });
}

// Runs `argv` to its end with the main context running, so that this process answers what the
// program asks of it; its standard output, or "error: ..." when it failed.
std::string runProgram(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  GError* error = nullptr;
  GSubprocess* child = g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error);
  if (child == nullptr) {
    std::string text = std::string("error: ") + error->message;
    g_error_free(error);
    return text;
  }
  struct Reply {
    bool done = false;
    std::string text;
  } reply;
  g_subprocess_communicate_utf8_async(
      child, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto& out = *static_cast<Reply*>(data);
        char* output = nullptr;
        if (g_subprocess_communicate_utf8_finish(as<GSubprocess>(source), result, &output, nullptr,
                                                 nullptr)) {
          out.text = output != nullptr ? output : "";
          g_free(output);
        }
        out.done = true;
      },
      &reply);
  const bool ended = iterateUntil([&] { return reply.done; }, 60);
  if (ended && !g_subprocess_get_successful(child)) reply.text = "error: failed\n" + reply.text;
  g_object_unref(child);
  return ended ? reply.text : "error: still running";
}

// Types `keys` (xdotool's names) into the window, through X's test keyboard.
std::string pressKeys(const char* keys) {
  return runProgram({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Ostrela$",
                     "windowfocus", "--sync", "key", keys});
}

// Which of the window's controls has the keyboard focus.
std::string focusedControl() {
  GtkWidget* focus = gtk_window_get_focus(firstToplevel());
  if (focus != nullptr && focus == settingsButton()) return "settings button";
  if (focus != nullptr && GTK_IS_BUTTON(focus)) return "window control";
  return focus != nullptr ? G_OBJECT_TYPE_NAME(focus) : "nothing";
}

constexpr const char* kSettingsFailure =
    "error Cannot open the browser's settings for com.ostrela.safari-extension.extension: "
    "scripted settings failure";

TEST_F(HostWindowTest, PublishesAtLaunchShowsTheStateAfterEachLoadAndQuitsOnceTheSettingsShowOnce) {
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
    webkit_web_view_reload(webView);
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("disabled"); }));
    EXPECT_EQ(pageState(webView), "disabled | The Ostrela extension is off");
    // Fifty messages and three clicks at once: the settings are shown once, and the
    // application quits.
    EXPECT_EQ(
        pageValue(webView,
                  "for (let i = 0; i < 50; ++i)"
                  "  window.webkit.messageHandlers.controller.postMessage('open-preferences');"
                  "return 'posted'"),
        "posted");
    for (int i = 0; i < 3; ++i) g_signal_emit_by_name(settingsButton(), "clicked");
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery, kShowSettings));

  EXPECT_THAT(sink_.lines,
              ElementsAre("debug Published and read back 2 managed key(s) via the App Group"));
  EXPECT_TRUE(sink_.onMainThread);
  EXPECT_EQ(sink_.windowsAtPublication, 0u);
}

// A failure keeps the window, says why and is logged; the next request is taken; closing the
// window then ends the run with an error.
TEST_F(HostWindowTest, AFailureKeepsTheWindowSaysWhyAndTheNextRequestIsTaken) {
  setBrowser("state", "unavailable");
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
    EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery));

    EXPECT_EQ(pageValue(webView, "document.getElementById('open-settings').click(); return 1"),
              "1");
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("failed"); }));
    EXPECT_EQ(pageValue(webView, "return document.getElementById('status-detail').textContent"),
              "scripted settings failure. Ask your IT department for help.");
    EXPECT_EQ(toplevelCount(), 1u);
    ASSERT_EQ(sink_.lines.size(), 2u);

    g_signal_emit_by_name(settingsButton(), "clicked");
    ASSERT_TRUE(iterateUntil([&] { return sink_.lines.size() == 3; }));
    EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery, kShowSettings, kShowSettings));
    pressKeys("Escape");  // the window closes, and with it the application
  });
  EXPECT_EQ(status, 1);
  EXPECT_THAT(sink_.lines,
              ElementsAre(StartsWith("debug Published"), kSettingsFailure, kSettingsFailure));
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
    const std::string page = webkit_web_view_get_uri(webView);
    std::vector<std::string> started;
    connectSignal(
        webView, "load-changed",
        +[](WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
          if (event == WEBKIT_LOAD_STARTED) {
            static_cast<std::vector<std::string>*>(data)->push_back(webkit_web_view_get_uri(view));
          }
        },
        &started);
    gchar* uri = g_filename_to_uri(elsewhere.c_str(), nullptr, nullptr);
    const std::string other = uri;
    g_free(uri);
    webkit_web_view_load_uri(webView, other.c_str());
    webkit_web_view_load_uri(webView, "http://127.0.0.1:9/");
    EXPECT_EQ(pageValue(webView, ("location.href = '" + other + "'; return 1").c_str()), "1");
    // A load that was let through starts before the view answers a later script.
    EXPECT_EQ(pageValue(webView, "return location.href"), page);
    EXPECT_THAT(started, ElementsAre());
    EXPECT_EQ(webkit_web_view_get_uri(webView), page);

    struct Download {
      bool ended = false, failed = false;
    } download;
    WebKitDownload* job = webkit_web_view_download_uri(
        webView, ("file://" + (temp_.path() / "elsewhere/file.txt").string()).c_str());
    connectSignal(
        job, "failed",
        +[](WebKitDownload*, GError*, gpointer data) {
          static_cast<Download*>(data)->failed = static_cast<Download*>(data)->ended = true;
        },
        &download);
    connectSignal(
        job, "finished",
        +[](WebKitDownload*, gpointer data) { static_cast<Download*>(data)->ended = true; },
        &download);
    ASSERT_TRUE(iterateUntil([&] { return download.ended; }));
    EXPECT_TRUE(download.failed);
    g_object_unref(job);

    const auto menu = GObjectPtr<WebKitContextMenu>::adopt(webkit_context_menu_new());
    for (const auto action :
         {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
          WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK, WEBKIT_CONTEXT_MENU_ACTION_COPY,
          WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
          WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK, WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
          WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL}) {
      webkit_context_menu_append(menu.get(),
                                 webkit_context_menu_item_new_from_stock_action(action));
    }
    // After the window's handler, this one keeps WebKit from showing the menu.
    connectSignal(
        webView, "context-menu",
        +[](WebKitWebView*, WebKitContextMenu*, WebKitHitTestResult*, gpointer) { return TRUE; },
        nullptr);
    gboolean handled = FALSE;
    g_signal_emit_by_name(webView, "context-menu", menu.get(), nullptr, &handled);
    std::vector<WebKitContextMenuAction> kept;
    for (GList* item = webkit_context_menu_get_items(menu.get()); item; item = item->next) {
      kept.push_back(webkit_context_menu_item_get_stock_action(
          static_cast<WebKitContextMenuItem*>(item->data)));
    }
    EXPECT_THAT(
        kept, ElementsAre(WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL));
    pressKeys("ctrl+q");  // the window closes, and with it the application
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(temp_.path() / "HOME")) {
    EXPECT_NE(entry.path().filename(), "file.txt") << entry.path();
  }
}

// What a screen reader and the keyboard reach, over the accessibility bus and X's test keyboard.
TEST_F(HostWindowTest, AScreenReaderHearsTheStateAndTheKeyboardKeepsToTheWindow) {
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "no D-Bus session";
  ::setenv("GTK_A11Y", "atspi", 1);
  setBrowser("state", "disabled");
  setBrowser("settings", "fail");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("disabled"); }));
    const std::string pid = std::to_string(::getpid());
    const std::string probe = OSTRELA_TEST_SOURCE_DIR "/screen_reader_probe.py";
    // The state: the view's name and description, and the button's description.
    const std::string shown = runProgram({probe, pid, "show"});
    EXPECT_THAT(shown, HasSubstr("push button | Open Extension Settings | The Ostrela extension "
                                 "is off | focused\n"));
    EXPECT_THAT(shown, HasSubstr("filler | The Ostrela extension is off | Your browser cannot use "
                                 "Ostrela until you turn its extension on.\n"));
    EXPECT_EQ(runProgram({probe, pid, "press", "Open Extension Settings"}), "pressed\n");
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("failed"); }));
    EXPECT_THAT(
        runProgram({probe, pid, "show"}),
        HasSubstr("filler | Your browser's extension settings could not be opened | scripted "
                  "settings failure. Ask your IT department for help.\n"));
    EXPECT_THAT(calls(), ElementsAre(kStateQuery, kShowSettings));

    // Tab by Tab the focus goes from control to control; Return presses the button.
    std::vector<std::string> focus{focusedControl()};
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(pressKeys("Tab"), "");
      focus.push_back(focusedControl());
    }
    EXPECT_EQ(focus.front(), "settings button");
    EXPECT_THAT(focus, Each(AnyOf("settings button", "window control")));
    for (int i = 0; i < 4 && focusedControl() != "settings button"; ++i) pressKeys("Tab");
    ASSERT_EQ(pressKeys("Return"), "");
    ASSERT_TRUE(waitForCalls(3));
    ASSERT_TRUE(iterateUntil([&] { return sink_.lines.size() == 3; }));
    pressKeys("ctrl+w");  // the window closes, and with it the application
  });
  // Closed by the keyboard after the settings failed.
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace ostrela::linux_platform
