// Relays between the page (window.postMessage) and the extension's worker
// (one port per tab). Only messages from this page's own window are taken,
// and the page never learns anything but the replies to its own requests.
"use strict";

(() => {
  const api = typeof browser !== "undefined" ? browser : chrome;
  const TO_EXTENSION = "tarvona:request";
  const TO_PAGE = "tarvona:response";
  let port = null;

  function connect() {
    port = api.runtime.connect({ name: "tarvona" });
    port.onMessage.addListener((message) => {
      window.postMessage({ type: TO_PAGE, message }, window.location.origin);
    });
    port.onDisconnect.addListener(() => {
      port = null;
      // Everything still pending fails: the host is gone.
      window.postMessage({ type: TO_PAGE, disconnected: true }, window.location.origin);
    });
  }

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.type !== TO_EXTENSION) return;
    const message = event.data.message;
    if (typeof message !== "object" || message === null) return;
    if (!port) connect();
    port.postMessage(message);
  });

  // Lets the page API know the extension is there.
  document.documentElement.dataset.tarvonaExtension = "1";
})();
