// The host application's window for real, under Xvfb. Each test runs the
// application once in this process, exactly as its main does, with a scripted
// browser integration; the test's steps run inside the application's main
// loop once the web view exists, and look at the page through the web view.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/json.h"
#include "platform/linux/file_preference_stores.h"
#include "platform/linux/gtk/gobject_support.h"
#include "platform/linux/gtk/host_application.h"
#include "tests/support/scripted_browser_integration.h"
#include "shared/managed_configuration_key.h"
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

struct Image {
  int width = 0;
  int height = 0;
  std::vector<guint32> pixels;  // GDK's default memory format, one word per pixel
};

Image download(GdkTexture* texture) {
  Image image{gdk_texture_get_width(texture), gdk_texture_get_height(texture), {}};
  image.pixels.resize(static_cast<std::size_t>(image.width) *
                      static_cast<std::size_t>(image.height));
  gdk_texture_download(texture, reinterpret_cast<guchar*>(image.pixels.data()),
                       static_cast<gsize>(image.width) * 4);
  g_object_unref(texture);
  return image;
}

// Saves `image` as PNG and returns how many distinct colours it has.
std::size_t save(const Image& image, const std::string& name) {
  const std::filesystem::path folder = OSTRELA_SCREENSHOT_DIR;
  std::filesystem::create_directories(folder);
  GBytes* bytes = g_bytes_new(image.pixels.data(), image.pixels.size() * 4);
  GdkTexture* texture = gdk_memory_texture_new(image.width, image.height, GDK_MEMORY_DEFAULT, bytes,
                                               static_cast<gsize>(image.width) * 4);
  gdk_texture_save_to_png(texture, (folder / name).c_str());
  g_object_unref(texture);
  g_bytes_unref(bytes);
  return std::set<guint32>(image.pixels.begin(), image.pixels.end()).size();
}

// The web view's image, as WebKit renders it.
std::optional<Image> webViewImage(WebKitWebView* webView) {
  struct Snapshot {
    bool done = false;
    GdkTexture* texture = nullptr;
  } snapshot;
  webkit_web_view_get_snapshot(
      webView, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto& out = *static_cast<Snapshot*>(data);
        out.texture =
            webkit_web_view_get_snapshot_finish(as<WebKitWebView>(source), result, nullptr);
        out.done = true;
      },
      &snapshot);
  if (!iterateUntil([&] { return snapshot.done; }) || snapshot.texture == nullptr)
    return std::nullopt;
  return download(snapshot.texture);
}

// Saves the web view's image, and the whole window with the web view's image
// in place (GTK's own rendering leaves the web content out). Returns the
// number of distinct colours in the web view's image.
std::size_t saveScreenshots(WebKitWebView* webView, const std::string& name) {
  const std::optional<Image> page = webViewImage(webView);
  if (!page) return 0;
  save(*page, name + ".png");

  auto* window = as<GtkWidget>(gtk_widget_get_root(as<GtkWidget>(webView)));
  GdkPaintable* paintable = gtk_widget_paintable_new(window);
  const int width = gtk_widget_get_width(window);
  const int height = gtk_widget_get_height(window);
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, as<GdkSnapshot>(snapshot), width, height);
  g_object_unref(paintable);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  const graphene_rect_t bounds =
      GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  Image frame = download(
      gsk_renderer_render_texture(gtk_native_get_renderer(as<GtkNative>(window)), node, &bounds));
  gsk_render_node_unref(node);

  graphene_point_t origin = GRAPHENE_POINT_INIT(0, 0);
  const graphene_point_t zero = GRAPHENE_POINT_INIT(0, 0);
  if (!gtk_widget_compute_point(as<GtkWidget>(webView), window, &zero, &origin)) return 0;
  const int left = static_cast<int>(origin.x);
  const int top = static_cast<int>(origin.y);
  for (int y = 0; y < page->height && top + y < frame.height; ++y) {
    for (int x = 0; x < page->width && left + x < frame.width; ++x) {
      frame.pixels[static_cast<std::size_t>((top + y) * frame.width + left + x)] =
          page->pixels[static_cast<std::size_t>(y * page->width + x)];
    }
  }
  save(frame, name + "-window.png");
  return std::set<guint32>(page->pixels.begin(), page->pixels.end()).size();
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
    ::setenv("GTK_A11Y", "none", 1);
    temp_.write("managed/com.ostrela.safari-extension.json",
                R"({"organizationName": "Example Org", "machineId": "m-1", "apiToken": "t"})");
    temp_.write(kSuiteFile, R"({"agentRelaySecret": "s3cret", "endpoint": "stale"})");
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
  int runApplication(std::function<void(WebKitWebView*)> steps,
                     const std::filesystem::path& resources = OSTRELA_HOST_RESOURCES) {
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
    const int status = runHostApplication(1, argv, delegate, browser, resources);
    if (!driver.started) g_source_remove(poll);
    if (driver.watchdog != 0) g_source_remove(driver.watchdog);
    EXPECT_EQ(driver.started, resources == OSTRELA_HOST_RESOURCES);
    return status;
  }

  testing::TemporaryDirectory temp_;
  const std::filesystem::path kSuiteFile =
      FilePreferenceStores({temp_.path() / "config", {}}, "").suiteFile(appGroupSuiteName);
  LaunchSink sink_;
};

TEST_F(HostWindowTest, PublishesAtLaunchShowsTheEnabledStateAndQuitsWhenClosed) {
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
    EXPECT_GT(saveScreenshots(webView, "host-window-enabled"), 50u);
    gtk_window_close(firstToplevel());
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery));

  EXPECT_THAT(sink_.lines,
              ElementsAre("debug Published and read back 2 managed key(s) via the App Group",
                          StartsWith("debug Publication took ")));
  EXPECT_TRUE(sink_.onMainThread);
  EXPECT_EQ(sink_.windowsAtPublication, 0u);
  std::ifstream in(kSuiteFile);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(decodeJson(text), AnyValue(AnyMap{{"agentRelaySecret", "s3cret"},
                                              {"organizationName", "Example Org"},
                                              {"machineId", "m-1"}}));
}

TEST_F(HostWindowTest, ReloadAsksAgainAndShowsTheDisabledState) {
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("enabled"); }));
    setBrowser("state", "disabled");
    webkit_web_view_reload(webView);
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_TRUE(iterateUntil([&] { return pageState(webView).starts_with("disabled"); }));
    EXPECT_EQ(pageState(webView), "disabled | The Ostrela extension is off");
    EXPECT_GT(saveScreenshots(webView, "host-window-disabled"), 50u);
    gtk_window_close(firstToplevel());
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kStateQuery));
}

TEST_F(HostWindowTest, UnansweredStateQueryLeavesThePageAsItIs) {
  setBrowser("state", "unavailable");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    pause(0.5);
    // Not told: still checking, or, on a slow machine, the page's own "unknown" after its timeout.
    EXPECT_THAT(pageState(webView), AnyOf(StartsWith("checking |"), StartsWith("unknown |")));
    gtk_window_close(firstToplevel());
  });
  EXPECT_EQ(status, 0);
}

TEST_F(HostWindowTest, OpenPreferencesAsksForTheSettingsThenQuits) {
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    // The user presses the page's button.
    EXPECT_EQ(pageValue(webView, "document.getElementById('open-settings').click(); return 1"),
              "1");
    ASSERT_TRUE(waitForCalls(2));
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kShowSettings));
}

TEST_F(HostWindowTest, OpenPreferencesQuitsEvenWhenTheSettingsCannotBeShown) {
  setBrowser("settings", "fail");
  const int status = runApplication([&](WebKitWebView* webView) {
    ASSERT_TRUE(waitForCalls(1));
    pageValue(webView, "window.webkit.messageHandlers.controller.postMessage('open-preferences')");
    ASSERT_TRUE(waitForCalls(2));
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery, kShowSettings));
}

TEST_F(HostWindowTest, OtherMessagesLeaveTheApplicationRunning) {
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
    gtk_window_close(firstToplevel());
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(calls(), ElementsAre(kStateQuery));
}

TEST_F(HostWindowTest, AMissingPageIsReportedAfterPublishing) {
  temp_.write("resources/Main.ui", "<interface/>");
  EXPECT_EQ(runApplication([](WebKitWebView*) {}, temp_.path() / "resources"), 1);
  EXPECT_THAT(sink_.lines,
              ElementsAre("debug Published and read back 2 managed key(s) via the App Group",
                          StartsWith("debug Publication took ")));
  EXPECT_THAT(calls(), ElementsAre());
}

}  // namespace
}  // namespace ostrela::linux_platform
