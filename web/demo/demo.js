import { TarvonaActiveX } from "../tarvona.js";
import { describeCertificate, pemToDer } from "./der.js";

const PROG_ID = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
const $ = (id) => document.getElementById(id);
const NONE = "—";

let ctrl = null;
let session = null;
let loggedIn = false;
let chosenSerial = null;

function log(text) {
  $("log").textContent += text + "\n";
}

// The status line says what is true now; a failure is marked as such.
function status(text, failed = false) {
  $("status").textContent = text;
  $("status").classList.toggle("failed", failed);
}

// A result code in words, with the code beside them.
function said(code) {
  return `${TarvonaActiveX.describe(code)} (code ${code})`;
}

// Methods whose text parameters are PINs: never shown in the log.
const SECRET = new Set(["Login", "ChangeSOPin", "ChangeUserPin", "UnblockUserPin", "TokenInitialize"]);

async function call(method, ...params) {
  const result = await ctrl[method](...params);
  const shown = params.map((p, i) => (SECRET.has(method) && i > 0 ? "****" : p)).map((p) => (typeof p === "string" && p.length > 24 ? `"${p.slice(0, 20)}…"` : JSON.stringify(p)));
  const out = typeof result === "string" && result.length > 40 ? `"${result.slice(0, 36)}…"` : JSON.stringify(result);
  log(`${method}(${shown.join(", ")}) -> ${out}`);
  return result;
}

// Every button is enabled exactly when its call can work.
function updateButtons() {
  const ready = ctrl !== null;
  const connected = ready && session !== null;
  $("connect").disabled = !ready || connected;
  $("login").disabled = !connected || loggedIn;
  $("disconnect").disabled = !connected;
  $("sign").disabled = !connected || chosenSerial === null;
  $("verify").disabled = !connected || chosenSerial === null || $("signature").textContent === NONE;
  $("store-sign").disabled = !ready || $("store-serial").value.trim() === "";
  $("store-choose").disabled = !ready;
}

function clearVerdict() {
  $("verification").textContent = NONE;
}

function clearSignature() {
  $("signature").textContent = NONE;
  clearVerdict();
}

// What the page knew about the token goes with the connection.
function forgetToken() {
  session = null;
  loggedIn = false;
  chosenSerial = null;
  $("token-serial").textContent = NONE;
  $("certificates").textContent = "";
  clearSignature();
}

async function hashSelection(text) {
  // SHA-1 goes to the token as hash type 0; SHA-256 is signed raw (type 3)
  // over a DigestInfo the page builds.
  if ($("hash").value === "sha1") return { type: 0, data: TarvonaActiveX.toHex(text) };
  return { type: 3, data: await TarvonaActiveX.digestInfo("SHA-256", text) };
}

function choose(serial) {
  chosenSerial = serial;
  clearVerdict();
  updateButtons();
}

async function listCertificates() {
  const rows = $("certificates");
  rows.textContent = "";
  for (let i = 0; ; i++) {
    const object = await call("EnumCertificate", session, i);
    if (object === 1011 || object === 1002) break;
    const pem = await call("GetAttribute", session, object, 1);
    const serial = await call("GetAttribute", session, object, 3);
    const info = describeCertificate(pemToDer(pem));
    const row = rows.insertRow();
    const radio = document.createElement("input");
    radio.type = "radio";
    radio.name = "certificate";
    radio.value = serial;
    radio.addEventListener("change", () => choose(serial));
    row.insertCell().append(radio);
    row.insertCell().textContent = info.subject;
    row.insertCell().textContent = info.issuer;
    row.insertCell().textContent = serial;
    if (i === 0) {
      radio.checked = true;
      choose(serial);
    }
  }
  return rows.rows.length;
}

// Runs a button's work; a call the host rejects (it ended, say) is shown
// in words rather than lost.
function on(id, work) {
  $(id).addEventListener("click", async () => {
    try {
      await work();
    } catch (e) {
      status(TarvonaActiveX.describe(e), true);
      log(`${e.name}: ${e.message}`);
    }
    updateButtons();
  });
}

on("connect", async () => {
  const result = await call("ConnectToken");
  if (result < 0x10000) {
    status(`Cannot connect: ${said(result)}`, true);
    return;
  }
  session = result;
  const serial = await call("RetrieveSerial", session);
  $("token-serial").textContent = serial;
  status("Connected. Enter the PIN and log in to see the certificates and sign.");
});

on("login", async () => {
  // An empty PIN field means the reader's keypad: the token's module asks
  // there, and the call returns once the user has typed it (or cancelled).
  const pin = $("pin").value;
  if (pin === "") status(TarvonaActiveX.describe("pin-on-reader"));
  const result = await call("Login", session, pin);
  if (result !== 0) {
    status(`Login refused: ${said(result)}${pin === "" ? ` ${TarvonaActiveX.describe("pin-on-reader")}` : ""}`, true);
    return;
  }
  loggedIn = true;
  const count = await listCertificates();
  status(count > 0 ? `Logged in. ${count === 1 ? "One certificate" : `${count} certificates`} on the token: choose one and sign.`
    : "Logged in, but the token holds no certificate.");
});

on("disconnect", async () => {
  const result = await call("DisconnectToken", session);
  forgetToken();
  status(result === 0 ? "Disconnected. Connect again to use the token." : `Disconnected: ${said(result)}`, result !== 0);
});

on("sign", async () => {
  clearSignature();
  const { type, data } = await hashSelection($("text").value);
  const signature = await call("SignByCertSerial", session, chosenSerial, type, data);
  if (signature) {
    $("signature").textContent = signature;
    status("Signed. Verify checks the signature against the text as it is now.");
  } else {
    status("The token gave no signature: log in again, or choose another certificate.", true);
  }
});

on("verify", async () => {
  const { type, data } = await hashSelection($("text").value);
  const result = await call("VerifyByCertSerial", session, chosenSerial, type, data, $("signature").textContent);
  $("verification").textContent = result === 0 ? "The signature is valid. (code 0)" : said(result);
});

// The verdict belongs to the text and hash it was given for.
for (const id of ["text", "hash"]) $(id).addEventListener("input", () => clearVerdict());
$("store-serial").addEventListener("input", () => updateButtons());

async function storeSign(source, serial) {
  $("store-signature").textContent = NONE;
  $("store-result").textContent = source === 0 ? "Choose a certificate in the dialog…" : "";
  const data = TarvonaActiveX.toHex($("text").value);
  const signature = await call("SignByCSP", 0, source, serial, 0, data);
  if (signature) {
    $("store-signature").textContent = signature;
    $("store-result").textContent = "Signed with the store's private key.";
  } else if (source === 0) {
    $("store-result").textContent = "No signature: no certificate was chosen (the dialog was cancelled, or there is no display or no certificate with a private key).";
  } else {
    $("store-result").textContent = "No signature: the store holds no certificate with a private key and this serial number. " +
      "Check the leading 00 of the DER serial.";
  }
}

on("store-sign", () => storeSign(1, $("store-serial").value.trim()));
on("store-choose", () => storeSign(0, ""));

updateButtons();
try {
  status("Starting the Tarvona host…");
  ctrl = await TarvonaActiveX.create(PROG_ID, {
    onStatus: (word) => status(TarvonaActiveX.describe(word)),
  });
  status("Ready: connect to a token.");
} catch (e) {
  status(TarvonaActiveX.describe(e), true);
  log(`${e.name}: ${e.message}`);
}
updateButtons();
window.tarvonaDemo = { call, get session() { return session; } };
