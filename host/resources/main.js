"use strict";

// The page's states: "checking" until the app calls show(); "unknown" if it never does; "failed"
// when the app could not open the browser's settings. The title is the state's headline, which
// the app gives screen readers with the detail.
const texts = {
  checking: ["Checking the Ostrela extension…", "This takes a moment."],
  enabled: [
    "The Ostrela extension is on",
    "You can turn it off or change its options in your browser's extension settings.",
  ],
  disabled: [
    "The Ostrela extension is off",
    "Your browser cannot use Ostrela until you turn its extension on.",
  ],
  unknown: [
    "Ostrela cannot tell whether its extension is on",
    "Check your browser's extension settings to make sure Ostrela is switched on.",
  ],
  failed: ["Your browser's extension settings could not be opened", ""],
};

function render(state, useSettingsInsteadOfPreferences, detail = texts[state][1], where = "") {
  const title = texts[state][0];
  document.body.dataset.state = state;
  document.title = title;
  document.getElementById("status-title").textContent = title;
  document.getElementById("status-detail").textContent = where ? `${where} ${detail}` : detail;
  const name = useSettingsInsteadOfPreferences ? "Open Extension Settings" : "Open Extension Preferences";
  document.getElementById("open-settings").textContent = name;
  for (const element of document.querySelectorAll(".settings-name")) element.textContent = name;
}

// Called by the app after each page load with the extension's state; the second argument is
// always true; the third, when given, is a sentence that names the browser it was read from.
function show(enabled, useSettingsInsteadOfPreferences, where) {
  render(enabled ? "enabled" : "disabled", useSettingsInsteadOfPreferences, undefined, where);
}

// Called by the app, with its reason, when the browser's settings could not be opened.
function showSettingsFailure(reason) {
  render("failed", true, `${reason}. Ask your IT department for help.`);
}

document.getElementById("open-settings").addEventListener("click", () => {
  window.webkit.messageHandlers.controller.postMessage("open-preferences");
});

render("checking", true);
setTimeout(() => {
  if (document.body.dataset.state === "checking") render("unknown", true);
}, 5000);
