#include "platform/linux/gtk/view_controller.h"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_page_contract.h"
#include "platform/linux/gtk/gobject_support.h"

namespace ostrela::linux_platform {
namespace {

void onLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self);
gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer self);
gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer self);
void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer);
gboolean onContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer);
void onTitleChanged(WebKitWebView*, GParamSpec*, gpointer self);
void onSettingsClicked(GtkButton*, gpointer self);

}  // namespace

ViewController::ViewController(BrowserIntegration& browser, const Logger& logger,
                               std::filesystem::path resourceFolder, GApplication* application)
    : browser_(browser),
      logger_(logger),
      resourceFolder_(std::move(resourceFolder)),
      application_(GObjectPtr<GApplication>::retain(application)) {}

ViewController::~ViewController() {
  if (webView_) {
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(webView()), this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_network_session(webView()), this);
    g_signal_handlers_disconnect_by_data(webView(), this);
  }
  if (settingsButton_) g_signal_handlers_disconnect_by_data(settingsButton_.get(), this);
}

void ViewController::setWebView(WebKitWebView* webView) {
  webView_ = GObjectPtr<WebKitWebView>::retain(webView);
}

void ViewController::setSettingsButton(GtkWidget* button) {
  settingsButton_ = GObjectPtr<GtkWidget>::retain(button);
  connectSignal(button, "clicked", &onSettingsClicked, this);
}

void ViewController::viewDidLoad() {
  // WebKitGTK reads file: URLs in its network process, outside the web process's sandbox, so the
  // page may use every file in its folder without a grant.
  const std::filesystem::path page = resourceFolder_ / pageFileName();
  gchar* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
  pageUri_ = uri;
  g_free(uri);

  connectSignal(webView(), "load-changed", &onLoadChanged, this);
  connectSignal(webView(), "load-failed", &onLoadFailed, this);
  connectSignal(webView(), "decide-policy", &onDecidePolicy, this);
  connectSignal(webView(), "context-menu", &onContextMenu, this);
  connectSignal(webView(), "notify::title", &onTitleChanged, this);
  connectSignal(webkit_web_view_get_network_session(webView()), "download-started",
                &onDownloadStarted, this);

  WebKitUserContentManager* contentManager = webkit_web_view_get_user_content_manager(webView());
  const std::string handler(kScriptMessageHandler);
  connectSignal(contentManager, ("script-message-received::" + handler).c_str(), &onScriptMessage,
                this);
  webkit_user_content_manager_register_script_message_handler(contentManager, handler.c_str(),
                                                              nullptr);
  webkit_web_view_load_uri(webView(), pageUri_.c_str());
}

bool ViewController::isPage(std::string_view uri) const {
  return !pageUri_.empty() && uri.substr(0, uri.find('#')) == pageUri_;
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
  // Script messages carry no sender. The navigation policy keeps every frame on the page, so a
  // message while the main frame shows it comes from the page.
  const char* shown = webkit_web_view_get_uri(webView());
  if (body != kOpenPreferencesMessage || shown == nullptr || !isPage(shown)) return;
  showExtensionSettings();
}

void ViewController::showExtensionSettings() {
  if (settingsRequested_) return;
  settingsRequested_ = true;
  // Runs before the controller goes: the application's shutdown drains the
  // integration and the main context first.
  browser_.showPreferencesForExtension(kExtensionIdentifier,
                                       [this](std::optional<BrowserIntegrationError> error) {
                                         runOnMainContext([this, error = std::move(error)] {
                                           if (error) return settingsDidFail(error->message);
                                           settingsFailed_ = false;
                                           g_application_quit(application_.get());
                                         });
                                       });
}

void ViewController::settingsDidFail(const std::string& reason) {
  settingsRequested_ = false;
  settingsFailed_ = true;
  logger_.log(LogLevel::error, "Cannot open the browser's settings for %{public}s: %{public}s",
              {kExtensionIdentifier, std::string_view(reason)});
  // The reason is handed over as a value, never spliced into the script.
  gchar* text = g_utf8_make_valid(reason.c_str(), static_cast<gssize>(reason.size()));
  GVariantDict arguments;
  g_variant_dict_init(&arguments, nullptr);
  g_variant_dict_insert(&arguments, "reason", "s", text);
  g_free(text);
  webkit_web_view_call_async_javascript_function(
      webView(), kSettingsFailureCall.data(), static_cast<gssize>(kSettingsFailureCall.size()),
      g_variant_dict_end(&arguments), nullptr, nullptr, nullptr, nullptr, nullptr);
}

// The web view's content is not in the accessibility tree: the view itself carries the page's
// state as its name and description, and the button the state's headline. The reply holds its
// own references, as it may come after the controller has gone.
void ViewController::updateAccessibleState() {
  struct Targets {
    GObjectPtr<WebKitWebView> view;
    GObjectPtr<GtkWidget> button;
  };
  webkit_web_view_call_async_javascript_function(
      webView(), kStateTextCall.data(), static_cast<gssize>(kStateTextCall.size()), nullptr,
      nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<Targets> targets(static_cast<Targets*>(data));
        JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
            as<WebKitWebView>(source), result, nullptr);
        if (value == nullptr) return;
        gchar* text = jsc_value_to_string(value);
        const std::string state(text);
        g_free(text);
        g_object_unref(value);
        const std::size_t split = state.find('\n');
        const std::string headline = state.substr(0, split);
        const std::string detail = split == std::string::npos ? "" : state.substr(split + 1);
        gtk_accessible_update_property(as<GtkAccessible>(targets->view.get()),
                                       GTK_ACCESSIBLE_PROPERTY_LABEL, headline.c_str(),
                                       GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, detail.c_str(), -1);
        if (targets->button) {
          gtk_accessible_update_property(as<GtkAccessible>(targets->button.get()),
                                         GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, headline.c_str(), -1);
        }
      },
      new Targets{webView_, settingsButton_});
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

// Navigations of any frame, from links, scripts, forms, drops or the API, go to the page only,
// and only as something the view shows; new windows never open.
gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer self) {
  const auto& controller = *static_cast<const ViewController*>(self);
  bool allowed = false;
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        as<WebKitNavigationPolicyDecision>(decision));
    allowed =
        controller.isPage(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
  } else if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    auto* response = as<WebKitResponsePolicyDecision>(decision);
    allowed = webkit_response_policy_decision_is_mime_type_supported(response) &&
              controller.isPage(webkit_uri_request_get_uri(
                  webkit_response_policy_decision_get_request(response)));
  }
  if (allowed) {
    webkit_policy_decision_use(decision);
  } else {
    webkit_policy_decision_ignore(decision);
  }
  return TRUE;
}

// Downloads start from links, the context menu or the API; none is let write a file.
void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
  webkit_download_cancel(download);
}

bool isHarmless(WebKitContextMenuAction action) {
  switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_COPY:
    case WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD:
      return true;
    default:
      return false;
  }
}

// Keeps only the items that copy or select; no menu at all when none is left.
gboolean onContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer) {
  std::vector<WebKitContextMenuItem*> refused;
  for (GList* item = webkit_context_menu_get_items(menu); item != nullptr; item = item->next) {
    auto* menuItem = static_cast<WebKitContextMenuItem*>(item->data);
    if (!isHarmless(webkit_context_menu_item_get_stock_action(menuItem))) {
      refused.push_back(menuItem);
    }
  }
  for (WebKitContextMenuItem* item : refused) webkit_context_menu_remove(menu, item);
  return webkit_context_menu_get_n_items(menu) == 0;
}

void onTitleChanged(WebKitWebView*, GParamSpec*, gpointer self) {
  static_cast<ViewController*>(self)->updateAccessibleState();
}

void onSettingsClicked(GtkButton*, gpointer self) {
  static_cast<ViewController*>(self)->showExtensionSettings();
}

}  // namespace

}  // namespace ostrela::linux_platform
