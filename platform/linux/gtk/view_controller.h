// The controller of the host window's web view: loads the page and keeps the
// view on it, reports the extension's state to it after every finished
// navigation, and handles requests to open the extension's settings, from the
// page or the window's own button. Main thread only.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/logger.h"
#include "host/browser_integration.h"
#include "platform/linux/gtk/gobject_support.h"

typedef struct _GApplication GApplication;
typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace ostrela::linux_platform {

class ViewController {
 public:
  // `browser` and `logger` must outlive every request made through them;
  // `application` is what terminating quits.
  ViewController(BrowserIntegration& browser, const Logger& logger,
                 std::filesystem::path resourceFolder, GApplication* application);
  ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // The outlets the window's interface description provides; held strongly.
  void setWebView(WebKitWebView* webView);
  WebKitWebView* webView() const { return webView_.get(); }
  void setSettingsButton(GtkWidget* button);

  // Connects the web view and loads the page, granting it read access to the resource folder.
  // From then on the view navigates to its page only, downloads nothing, and its context menu
  // offers no item that loads, opens or saves.
  void viewDidLoad();

  // The web view's load events. A load that failed also ends, but is no finished navigation.
  void webViewDidStartLoad() { navigationFailed_ = false; }
  void webViewDidFailLoad() { navigationFailed_ = true; }
  void webViewDidEndLoad(WebKitWebView* webView) {
    if (!navigationFailed_) webViewDidFinishNavigation(webView);
  }

  // Asks for the extension's state and, on an answer, calls the page's show().
  void webViewDidFinishNavigation(WebKitWebView* webView);

  // "open-preferences" from the page, while the view shows it, asks to show the extension's
  // settings; anything else is ignored.
  void didReceiveScriptMessage(std::string_view body);

  // Shows the extension's settings and quits once they are shown. While one request is under
  // way, others are ignored; a failure is logged and told to the page, and the window stays.
  void showExtensionSettings();

  // True when the last request to show the settings failed: the run then ends with an error.
  bool settingsFailed() const { return settingsFailed_; }

  // Whether `uri` is the page's own (a fragment aside).
  bool isPage(std::string_view uri) const;

  // Gives the page's state text to screen readers; after each change of the page's title.
  void updateAccessibleState();

 private:
  void settingsDidFail(const std::string& reason);

  BrowserIntegration& browser_;
  const Logger& logger_;
  std::filesystem::path resourceFolder_;
  std::string pageUri_;
  GObjectPtr<GApplication> application_;
  GObjectPtr<WebKitWebView> webView_;
  GObjectPtr<GtkWidget> settingsButton_;
  bool navigationFailed_ = false;
  bool settingsRequested_ = false;
  bool settingsFailed_ = false;
};

}  // namespace ostrela::linux_platform
