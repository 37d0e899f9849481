// One native host per tab: a tab's first request starts tarvona-host, the
// tab's port closing (tab closed or navigated away) closes the host's input
// and so ends it. The page's origin comes from the browser, never from the
// page, and goes to the host with each "create".
"use strict";

const api = typeof browser !== "undefined" ? browser : chrome;
const HOST_NAME = "com.tarvona.host";
// What Chromium and Firefox say when no usable host manifest names the host.
const HOST_MISSING = /not found|no such native application|forbidden/i;

function originOf(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch (e) {
    return "null";
  }
}

api.runtime.onConnect.addListener((tab) => {
  if (tab.name !== "tarvona") return;
  const origin = originOf(tab.sender);
  let native = null;

  function fail(message, text) {
    tab.postMessage({ id: message.id ?? null, error: { name: "E_FAIL", message: text } });
  }

  tab.onMessage.addListener((message) => {
    if (typeof message !== "object" || message === null) return;
    if (!native) {
      try {
        native = api.runtime.connectNative(HOST_NAME);
      } catch (e) {
        fail(message, "cannot start the Tarvona host: " + e.message);
        return;
      }
      let answered = false;
      native.onMessage.addListener((reply) => {
        answered = true;
        tab.postMessage(reply);
      });
      native.onDisconnect.addListener((port) => {
        // Chromium reports through lastError, Firefox through the port.
        const failure = api.runtime.lastError || (port && port.error);
        const why = failure ? failure.message : "the host ended";
        native = null;
        const error = { name: "E_FAIL", message: why };
        if (!answered && HOST_MISSING.test(why)) error.reason = "host-missing";
        tab.postMessage({ id: null, error, ended: true });
      });
    }
    const request = Object.assign({}, message);
    if ("create" in request) request.origin = origin;
    else delete request.origin;
    native.postMessage(request);
  });

  tab.onDisconnect.addListener(() => {
    if (native) native.disconnect();
    native = null;
  });
});
