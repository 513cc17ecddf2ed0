// The controller of the host window's web view: loads the page, reports the
// extension's state to it after every finished navigation, and handles the
// page's request to open the extension's settings. Main thread only.
#pragma once

#include <filesystem>
#include <string_view>

#include "host/browser_integration.h"
#include "platform/linux/gtk/gobject_support.h"

typedef struct _GApplication GApplication;
typedef struct _WebKitWebView WebKitWebView;

namespace ostrela::linux_platform {

class ViewController {
 public:
  // `browser` must outlive every request made through it; `application` is
  // what terminating quits.
  ViewController(BrowserIntegration& browser, std::filesystem::path resourceFolder,
                 GApplication* application);
  ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // The outlet the window's interface description provides; held strongly.
  void setWebView(WebKitWebView* webView);
  WebKitWebView* webView() const { return webView_.get(); }

  // Connects the web view and loads the page, granting it read access to the resource folder.
  void viewDidLoad();

  // The web view's load events. A load that failed also ends, but is no finished navigation.
  void webViewDidStartLoad() { navigationFailed_ = false; }
  void webViewDidFailLoad() { navigationFailed_ = true; }
  void webViewDidEndLoad(WebKitWebView* webView) {
    if (!navigationFailed_) webViewDidFinishNavigation(webView);
  }

  // Asks for the extension's state and, on an answer, calls the page's show().
  void webViewDidFinishNavigation(WebKitWebView* webView);

  // "open-preferences" asks to show the extension's settings, then quits; anything else is ignored.
  void didReceiveScriptMessage(std::string_view body);

 private:
  BrowserIntegration& browser_;
  std::filesystem::path resourceFolder_;
  GObjectPtr<GApplication> application_;
  GObjectPtr<WebKitWebView> webView_;
  bool navigationFailed_ = false;
};

}  // namespace ostrela::linux_platform
