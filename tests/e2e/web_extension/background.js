// Sends the test's messages to the native host, both ways the browser offers,
// and posts every reply to the test's collector on the loopback interface.
const collector = "http://127.0.0.1:__COLLECTOR_PORT__/results";

function sendOne(host, message) {
  return new Promise((resolve) => {
    chrome.runtime.sendNativeMessage(host, message, (reply) => {
      const error = chrome.runtime.lastError ? chrome.runtime.lastError.message : null;
      resolve({ via: "sendNativeMessage", host, message, reply, error });
    });
  });
}

function overPort(host, messages) {
  return new Promise((resolve) => {
    const port = chrome.runtime.connectNative(host);
    const replies = [];
    const timer = setTimeout(() => finish("timed out"), 15000);
    function finish(error) {
      clearTimeout(timer);
      port.disconnect();
      resolve({ via: "connectNative", host, messages, replies, error });
    }
    port.onMessage.addListener((reply) => {
      replies.push(reply);
      if (replies.length === messages.length) finish(null);
    });
    port.onDisconnect.addListener(() => {
      // Firefox reports the cause on the port, Chromium in runtime.lastError.
      const cause = port.error || chrome.runtime.lastError;
      const error = cause ? cause.message : "disconnected";
      finish(error);
    });
    for (const message of messages) port.postMessage(message);
  });
}

async function run() {
  const results = [];
  results.push(await sendOne("com.ostrela.ldap_host", { type: "getManagedConfig", id: 1 }));
  results.push(await sendOne("com.ostrela.ldap_host",
                             { type: "getToken", host: "com.ostrela.ldap_host", id: "tok-1" }));
  results.push(await sendOne("com.ostrela.redaction_host",
                             { type: "scrub", host: "com.ostrela.redaction_host", id: 3, text: "x" }));
  results.push(await overPort("com.ostrela.ldap_host", [
    { type: "getLdap", host: "com.ostrela.ldap_host", id: "relayed" },
    { type: "getManagedConfig", id: "fast" },
    { type: "nothing", id: true },
  ]));
  await fetch(collector, { method: "POST", body: JSON.stringify(results) });
}

run().catch((e) => fetch(collector, { method: "POST", body: JSON.stringify({ failure: String(e) }) }));
