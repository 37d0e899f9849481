// One native host per tab: a tab's first request starts tarvona-host, the
// tab's port closing (tab closed or navigated away) closes the host's input
// and so ends it. The page's origin comes from the browser, never from the
// page, and goes to the host with each "create".
"use strict";

const api = typeof browser !== "undefined" ? browser : chrome;
const HOST_NAME = "com.tarvona.host";

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
      native.onMessage.addListener((reply) => tab.postMessage(reply));
      native.onDisconnect.addListener(() => {
        const why = api.runtime.lastError ? api.runtime.lastError.message : "the host ended";
        native = null;
        tab.postMessage({ id: null, error: { name: "E_FAIL", message: why }, ended: true });
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
