#include "platform/linux/gtk/view_controller.h"

#include <webkit/webkit.h>

#include <string>

#include "host/host_page_contract.h"
#include "platform/linux/gtk/gobject_support.h"

namespace ostrela::linux_platform {
namespace {

void onLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self);
gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer self);

}  // namespace

ViewController::ViewController(BrowserIntegration& browser, std::filesystem::path resourceFolder,
                               GApplication* application)
    : browser_(browser),
      resourceFolder_(std::move(resourceFolder)),
      application_(GObjectPtr<GApplication>::retain(application)) {}

ViewController::~ViewController() {
  if (webView_) {
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(webView()), this);
    g_signal_handlers_disconnect_by_data(webView(), this);
  }
}

void ViewController::setWebView(WebKitWebView* webView) {
  webView_ = GObjectPtr<WebKitWebView>::retain(webView);
}

void ViewController::viewDidLoad() {
  connectSignal(webView(), "load-changed", &onLoadChanged, this);
  connectSignal(webView(), "load-failed", &onLoadFailed, this);

  WebKitUserContentManager* contentManager = webkit_web_view_get_user_content_manager(webView());
  const std::string handler(kScriptMessageHandler);
  connectSignal(contentManager, ("script-message-received::" + handler).c_str(), &onScriptMessage,
                this);
  webkit_user_content_manager_register_script_message_handler(contentManager, handler.c_str(),
                                                              nullptr);

  // WebKitGTK reads file: URLs in its network process, outside the web process's sandbox, so the
  // page may use every file in its folder without a grant.
  const std::filesystem::path page = resourceFolder_ / pageFileName();
  gchar* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
  webkit_web_view_load_uri(webView(), uri);
  g_free(uri);
}

void ViewController::webViewDidFinishNavigation(WebKitWebView* webView) {
  // The completion keeps the web view alive until its main-context work has run,
  // and hands its reference on there, so that it is let go on the main thread.
  browser_.getStateOfExtension(
      kExtensionIdentifier,
      [view = GObjectPtr<WebKitWebView>::retain(webView)](ExtensionStateResult result) mutable {
        const auto* state = std::get_if<ExtensionState>(&result);
        const std::string script =
            state != nullptr ? showScript(state->isEnabled, state->description) : std::string();
        runOnMainContext([view = std::move(view), script] {
          if (!script.empty()) {
            webkit_web_view_evaluate_javascript(view.get(), script.c_str(), -1, nullptr, nullptr,
                                                nullptr, nullptr, nullptr);
          }
        });
      });
}

void ViewController::didReceiveScriptMessage(std::string_view body) {
  if (body != kOpenPreferencesMessage) return;
  // The application quits whether or not the settings could be shown.
  browser_.showPreferencesForExtension(
      kExtensionIdentifier,
      [application = application_](std::optional<BrowserIntegrationError>) mutable {
        runOnMainContext(
            [application = std::move(application)] { g_application_quit(application.get()); });
      });
}

namespace {

void onLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self) {
  auto* controller = static_cast<ViewController*>(self);
  if (event == WEBKIT_LOAD_STARTED) controller->webViewDidStartLoad();
  if (event == WEBKIT_LOAD_FINISHED) controller->webViewDidEndLoad(webView);
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self) {
  static_cast<ViewController*>(self)->webViewDidFailLoad();
  return FALSE;  // WebKit shows its error page
}

// The page's messages are strings; a body of another kind is ignored.
void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer self) {
  if (!jsc_value_is_string(value)) return;
  GBytes* bytes = jsc_value_to_string_as_bytes(value);  // keeps embedded NULs, unlike to_string
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  static_cast<ViewController*>(self)->didReceiveScriptMessage(std::string_view(data, size));
  g_bytes_unref(bytes);
}

}  // namespace

}  // namespace ostrela::linux_platform
