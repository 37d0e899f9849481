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

const TO_EXTENSION = "tarvona:request";
const TO_PAGE = "tarvona:response";

const pending = new Map();
let nextId = 1;

function hostError(error) {
  const e = new Error(error && error.message ? error.message : "the Tarvona host failed");
  e.name = error && error.name ? error.name : "E_FAIL";
  return e;
}

window.addEventListener("message", (event) => {
  if (event.source !== window || !event.data || event.data.type !== TO_PAGE) return;
  if (event.data.disconnected) {
    for (const { reject } of pending.values()) reject(hostError({ message: "the host ended" }));
    pending.clear();
    return;
  }
  const reply = event.data.message;
  if (!reply || typeof reply !== "object") return;
  if (reply.id === null || reply.id === undefined) {
    if (reply.ended) {
      for (const { reject } of pending.values()) reject(hostError(reply.error));
      pending.clear();
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
    return Promise.reject(hostError({ name: "E_FAIL", message: "the Tarvona extension is not installed" }));
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

export const TarvonaActiveX = {
  async create(progId) {
    const reply = await send({ create: progId });
    return controlFor(reply.object);
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
