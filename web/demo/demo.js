import { TarvonaActiveX } from "../tarvona.js";
import { describeCertificate, pemToDer } from "./der.js";

const PROG_ID = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
const $ = (id) => document.getElementById(id);

let ctrl = null;
let session = null;
let chosenSerial = null;

function log(text) {
  $("log").textContent += text + "\n";
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

function setConnected(connected) {
  $("login").disabled = !connected;
  $("disconnect").disabled = !connected;
  $("connect").disabled = connected;
}

async function hashSelection(text) {
  // SHA-1 goes to the token as hash type 0; SHA-256 is signed raw (type 3)
  // over a DigestInfo the page builds.
  if ($("hash").value === "sha1") return { type: 0, data: TarvonaActiveX.toHex(text) };
  return { type: 3, data: await TarvonaActiveX.digestInfo("SHA-256", text) };
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
    radio.addEventListener("change", () => {
      chosenSerial = serial;
      $("sign").disabled = false;
    });
    row.insertCell().append(radio);
    row.insertCell().textContent = info.subject;
    row.insertCell().textContent = info.issuer;
    row.insertCell().textContent = serial;
    if (i === 0) {
      radio.checked = true;
      chosenSerial = serial;
      $("sign").disabled = false;
    }
  }
}

$("connect").addEventListener("click", async () => {
  const result = await call("ConnectToken");
  if (result < 0x10000) {
    $("status").textContent = `No token (result ${result}).`;
    return;
  }
  session = result;
  setConnected(true);
  $("token-serial").textContent = await call("RetrieveSerial", session);
  $("status").textContent = "Connected. Log in to see the private keys and sign.";
});

$("login").addEventListener("click", async () => {
  const result = await call("Login", session, $("pin").value);
  $("status").textContent = result === 0 ? "Logged in." : `Login refused (${result}).`;
  if (result === 0) await listCertificates();
});

$("disconnect").addEventListener("click", async () => {
  await call("DisconnectToken", session);
  setConnected(false);
  $("status").textContent = "Disconnected.";
});

$("sign").addEventListener("click", async () => {
  const { type, data } = await hashSelection($("text").value);
  const signature = await call("SignByCertSerial", session, chosenSerial, type, data);
  $("signature").textContent = signature || "(signing failed)";
  $("verify").disabled = !signature;
});

$("verify").addEventListener("click", async () => {
  const { type, data } = await hashSelection($("text").value);
  const result = await call("VerifyByCertSerial", session, chosenSerial, type, data, $("signature").textContent);
  $("verification").textContent = result === 0 ? "valid (0)" : `not valid (${result})`;
});

$("store-sign").addEventListener("click", async () => {
  const data = TarvonaActiveX.toHex($("text").value);
  const signature = await call("SignByCSP", 0, 1, $("store-serial").value, 0, data);
  $("store-signature").textContent = signature || "(no certificate with a key for that serial)";
});

try {
  ctrl = await TarvonaActiveX.create(PROG_ID);
  $("status").textContent = "Ready: connect to a token.";
} catch (e) {
  $("status").textContent = `${e.name}: ${e.message}`;
  $("connect").disabled = true;
}
window.tarvonaDemo = { call, get session() { return session; } };
