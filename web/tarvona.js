// Page API of the Tarvona control.
//
//   import { TarvonaActiveX } from "./tarvona.js";
//   const ctrl = await TarvonaActiveX.create("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
//   const session = await ctrl.ConnectToken();
//   await ctrl.Login(session, pin);
//   const signature = await ctrl.SignByCertSerial(session, serial, 0, TarvonaActiveX.toHex(text));
//   await ctrl.release();
//
// Every method of the control is called by its own name with its own
// parameters and gives a Promise of its result. The control reports
// outcomes in its results (result codes, empty strings); a call the control
// cannot take at all (unknown method, wrong argument type or count) rejects
// with an Error whose `name` is the automation error, e.g.
// "DISP_E_TYPEMISMATCH". The browser extension carries the calls to the
// native host.
//
// TarvonaActiveX.describe(code) gives a short English sentence for a result
// code, an automation error's name or a rejected call's Error, saying how to
// fix what the user can fix.

const TO_EXTENSION = "tarvona:request";
const TO_PAGE = "tarvona:response";

const pending = new Map();
let nextId = 1;

// A rejected call's Error: `name` is the automation error; `reason` tells
// the failures around the control apart ("extension-missing",
// "host-missing", "host-ended").
function hostError(error, reason) {
  const e = new Error(error && error.message ? error.message : "the Tarvona host failed");
  e.name = error && error.name ? error.name : "E_FAIL";
  const why = (error && error.reason) || reason;
  if (why) e.reason = why;
  return e;
}

// Status callbacks of the "create" calls still waiting for their answer.
const creating = new Set();

window.addEventListener("message", (event) => {
  if (event.source !== window || !event.data || event.data.type !== TO_PAGE) return;
  if (event.data.disconnected) {
    for (const { reject } of pending.values()) reject(hostError({ message: "the host ended" }, "host-ended"));
    pending.clear();
    return;
  }
  const reply = event.data.message;
  if (!reply || typeof reply !== "object") return;
  if (reply.id === null || reply.id === undefined) {
    if (reply.ended) {
      for (const { reject } of pending.values()) reject(hostError(reply.error, "host-ended"));
      pending.clear();
    } else if (typeof reply.status === "string") {
      // The host's word on a "create" still in hand, e.g. that it is
      // asking the user whether this page may use the control.
      for (const onStatus of creating) onStatus(reply.status);
    }
    return;
  }
  const waiter = pending.get(reply.id);
  if (!waiter) return;
  pending.delete(reply.id);
  if (reply.error) waiter.reject(hostError(reply.error));
  else waiter.resolve(reply);
});

function extensionPresent() {
  return document.documentElement.dataset.tarvonaExtension === "1";
}

function send(request) {
  if (!extensionPresent()) {
    return Promise.reject(hostError({ name: "E_FAIL", message: "the Tarvona extension is not installed" }, "extension-missing"));
  }
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    window.postMessage({ type: TO_EXTENSION, message: Object.assign({ id }, request) }, window.location.origin);
  });
}

// Names that must not turn into calls: `then` would make the control look
// like a promise to `await`.
const NOT_METHODS = new Set(["then", "catch", "finally", "toJSON", "constructor"]);

function controlFor(object) {
  let released = false;
  const target = {
    object,
    async release() {
      if (released) return;
      released = true;
      await send({ release: object });
    },
  };
  return new Proxy(target, {
    get(t, name) {
      if (typeof name !== "string" || name in t || NOT_METHODS.has(name)) return t[name];
      return async (...params) => {
        if (released) throw hostError({ name: "E_HANDLE", message: "the control was released" });
        const reply = await send({ object, method: name, params });
        return reply.result;
      };
    },
  });
}

function bytesOf(data) {
  if (typeof data === "string") return new TextEncoder().encode(data);
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  throw new TypeError("text, Uint8Array or ArrayBuffer expected");
}

// DER prefixes of the PKCS #1 DigestInfo for each hash, before the hash.
const DIGEST_INFO_PREFIX = {
  "SHA-256": "3031300D060960864801650304020105000420",
  "SHA-384": "3041300D060960864801650304020205000430",
  "SHA-512": "3051300D060960864801650304020305000440",
};

// One sentence for every result code of the control.
const RESULTS = {
  0: "Success.",
  1001: "The token module could not be loaded.",
  1002: "No token session is open.",
  1003: "No token is connected.",
  1004: "An argument is not valid.",
  1005: "Hashing failed, or the hash type is not supported.",
  1006: "The token could not sign.",
  1007: "The signature does not verify.",
  1008: "Encryption failed.",
  1009: "Decryption failed.",
  1010: "The token was initialised, but its user PIN could not be set.",
  1011: "No matching certificate or key was found.",
  1301: "No certificate was chosen, or the certificate store cannot be opened.",
  1302: "The data is not an X.509 certificate.",
  1303: "The certificate's key cannot be used.",
  1304: "The certificate file cannot be read.",
  1305: "The cryptographic provider is not available.",
  4001: "Wrong PIN.",
  4002: "Another user is already logged in.",
  4003: "Login failed.",
  4004: "Logout failed.",
  4005: "Nobody is logged in.",
  4006: "The PIN is locked.",
  4007: "The PIN could not be changed.",
  4008: "The user PIN could not be set.",
  5001: "Nothing is connected.",
};

const INSTALL = "sudo apt install ./tarvona_<version>_amd64.deb";

// Failures around the control, and the automation errors calls reject with.
const FAILURES = {
  "extension-missing":
    "The Tarvona browser extension is not installed or not enabled for this site. " +
    `Install the tarvona package (${INSTALL}), which adds it to Chromium, or add it to your browser; then reload the page.`,
  "host-missing":
    `The Tarvona host is not installed. Install the tarvona package (${INSTALL}), then reload the page.`,
  "host-ended": "The Tarvona host ended. Reload the page to start it again.",
  E_ACCESSDENIED:
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, " +
    "or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.",
  REGDB_E_CLASSNOTREG:
    `The Tarvona control is not registered. Install the tarvona package (${INSTALL}), then reload the page.`,
  CO_E_DLLNOTFOUND:
    `The Tarvona control's module file is missing. Install the tarvona package again (${INSTALL}), then reload the page.`,
  CO_E_ERRORINDLL: "The Tarvona control's module file cannot be loaded.",
  CLASS_E_CLASSNOTAVAILABLE: "The Tarvona control cannot be created.",
  DISP_E_UNKNOWNNAME: "The control has no method of that name.",
  DISP_E_MEMBERNOTFOUND: "The control has no method with that number.",
  DISP_E_BADPARAMCOUNT: "The method was called with the wrong number of parameters.",
  DISP_E_TYPEMISMATCH: "A parameter has the wrong type.",
  DISP_E_OVERFLOW: "A number is too large for its parameter.",
  E_INVALIDARG: "The request is not valid.",
  E_HANDLE: "The control was released.",
  E_OUTOFMEMORY: "The Tarvona host ran out of memory.",
  E_FAIL: "The Tarvona host failed.",
};

// The host's status words on a pending "create".
const STATUSES = {
  "waiting-for-permission":
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.",
  // A page that calls Login (or a PIN change) with an empty PIN: on a card
  // reader with its own keypad, the reader now asks for the PIN.
  "pin-on-reader":
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.",
};

export const TarvonaActiveX = {
  // Creates a control. `onStatus(status)` hears what holds the answer up,
  // e.g. "waiting-for-permission" while the host asks the user whether this
  // page may use the control (TarvonaActiveX.describe gives its sentence).
  async create(progId, { onStatus } = {}) {
    if (onStatus) creating.add(onStatus);
    try {
      const reply = await send({ create: progId });
      return controlFor(reply.object);
    } finally {
      if (onStatus) creating.delete(onStatus);
    }
  },

  // A short English sentence for a result code (4001 -> "Wrong PIN."), an
  // automation error's name, a host status ("pin-on-reader" while a Login
  // with an empty PIN waits for the reader's keypad), or an Error a call
  // rejected with.
  describe(what) {
    if (what instanceof Error) {
      return FAILURES[what.reason] || FAILURES[what.name] || `${what.name}: ${what.message}`;
    }
    if (typeof what === "number") return RESULTS[what] || `Unknown result ${what}.`;
    const text = String(what);
    return FAILURES[text] || STATUSES[text] || `Unknown result ${text}.`;
  },

  // Upper-case hex text of text (as UTF-8) or bytes, the form every byte
  // string takes to the control.
  toHex(data) {
    return Array.from(bytesOf(data), (b) => b.toString(16).padStart(2, "0")).join("").toUpperCase();
  },

  fromHex(hex) {
    const bytes = new Uint8Array(Math.floor(hex.length / 2));
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    return bytes;
  },

  // The hex of a PKCS #1 DigestInfo over `data` for SHA-256, SHA-384 or
  // SHA-512. Signed with a hash type other than 0, 1 or 2 (raw RSA), it
  // gives an ordinary RSA signature with that hash.
  async digestInfo(hashName, data) {
    const prefix = DIGEST_INFO_PREFIX[hashName];
    if (!prefix) throw new RangeError("SHA-256, SHA-384 or SHA-512 expected");
    const digest = await crypto.subtle.digest(hashName, bytesOf(data));
    return prefix + TarvonaActiveX.toHex(new Uint8Array(digest));
  },
};

export default TarvonaActiveX;
