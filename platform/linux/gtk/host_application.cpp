#include "platform/linux/gtk/host_application.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "host/host_page_contract.h"
#include "platform/linux/gtk/gobject_support.h"
#include "platform/linux/gtk/view_controller.h"

namespace ostrela::linux_platform {
namespace {

bool isA(GObject* object, GType type) {
  return object != nullptr && g_type_check_instance_is_a(as<GTypeInstance>(object), type);
}

struct HostRun {
  AppDelegate& delegate;
  BrowserIntegration& browser;
  std::filesystem::path resourceFolder;
  std::unique_ptr<ViewController> controller;
  int status = 0;
};

void fail(GApplication* application, HostRun& run, const std::string& message) {
  g_printerr("OstrelaHost: %s\n", message.c_str());
  run.status = 1;
  g_application_quit(application);
}

gboolean quitOnSignal(gpointer application) {
  g_application_quit(static_cast<GApplication*>(application));
  return G_SOURCE_CONTINUE;
}

void onStartup(GApplication*, gpointer data) {
  auto& run = *static_cast<HostRun*>(data);
  run.delegate.applicationDidFinishLaunching();
}

// Still inside the application's run, so the main context is ours: completions
// that the browser integration is still working on are waited for, and the
// work they handed to the main context runs here, before the window goes.
void onShutdown(GApplication*, gpointer data) {
  auto& run = *static_cast<HostRun*>(data);
  run.browser.drain();
  for (int i = 0; i < 1000 && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
  // The settings were asked for and could not be shown: the user closed the window on an error.
  if (run.controller && run.controller->settingsFailed()) run.status = 1;
  run.controller.reset();
}

void onActivate(GApplication* application, gpointer data) {
  auto& run = *static_cast<HostRun*>(data);
  // The application is not unique, so it is activated once per run: one window.
  if (run.controller) return;
  const std::filesystem::path page = run.resourceFolder / pageFileName();
  std::error_code ec;  // no exception may unwind through GLib's C frames
  if (!std::filesystem::is_regular_file(page, ec))
    return fail(application, run, "missing " + page.string());

  g_type_ensure(webkit_web_view_get_type());  // named in the interface description
  const auto builder = GObjectPtr<GtkBuilder>::adopt(gtk_builder_new());
  GError* error = nullptr;
  const std::filesystem::path description = run.resourceFolder / kWindowDescriptionFile;
  if (!gtk_builder_add_from_file(builder.get(), description.c_str(), &error)) {
    fail(application, run, error->message);
    g_error_free(error);
    return;
  }
  GObject* window = gtk_builder_get_object(builder.get(), "window");
  GObject* webView = gtk_builder_get_object(builder.get(), "webView");
  GObject* button = gtk_builder_get_object(builder.get(), "openSettings");
  if (!isA(window, gtk_window_get_type()) || !isA(webView, webkit_web_view_get_type()) ||
      !isA(button, gtk_button_get_type())) {
    return fail(application, run,
                description.string() + " lacks the window, its web view or its button");
  }
  gtk_window_set_application(as<GtkWindow>(window), as<GtkApplication>(application));
  run.controller = std::make_unique<ViewController>(run.browser, run.delegate.logger(),
                                                    run.resourceFolder, application);
  run.controller->setWebView(as<WebKitWebView>(webView));
  run.controller->setSettingsButton(as<GtkWidget>(button));
  run.controller->viewDidLoad();
  gtk_window_present(as<GtkWindow>(window));
}

}  // namespace

int runHostApplication(int argc, char** argv, AppDelegate& delegate, BrowserIntegration& browser,
                       const std::filesystem::path& resourceFolder) {
  HostRun run{delegate, browser, resourceFolder, nullptr};
  const auto owner = GObjectPtr<GtkApplication>::adopt(
      gtk_application_new(kHostApplicationId, G_APPLICATION_NON_UNIQUE));
  GtkApplication* application = owner.get();
  connectSignal(application, "startup", &onStartup, &run);
  connectSignal(application, "activate", &onActivate, &run);
  connectSignal(application, "shutdown", &onShutdown, &run);
  // A session that ends, or an interrupt, quits the application as closing its window does.
  std::vector<guint> signalSources;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    signalSources.push_back(g_unix_signal_add(signal, &quitOnSignal, application));
  }
  const int status = g_application_run(as<GApplication>(application), argc, argv);
  for (const guint source : signalSources) g_source_remove(source);
  return run.status != 0 ? run.status : status;
}

}  // namespace ostrela::linux_platform
