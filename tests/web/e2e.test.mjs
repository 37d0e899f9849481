// The demo page in headless Chromium, through the extension and the native
// host, against a SoftHSM2 token and an NSS store: what it does and what it
// says at each step. With TARVONA_SCREENSHOTS=DIR the steps are also saved
// as pictures (docs/demo-page*.png).
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { HOST_NAME, hostProcesses, launchChromium, prepareKeys, serveWeb, SOURCE, temporaryFolder, until } from "./harness.mjs";

const build = path.resolve(process.env.TARVONA_BUILD || path.join(SOURCE, "build"));
const screenshots = process.env.TARVONA_SCREENSHOTS;
let work;
let web;
let browser;
let certificatePem;

// Waits until the element shows `expected` (text or pattern); a timeout
// fails with the text it shows instead.
async function shows(page, selector, expected) {
  const matches = (text) => (expected instanceof RegExp ? expected.test(text) : text === expected);
  try {
    await until(async () => matches(await page.textContent(selector)), `${selector}: ${expected}`);
  } catch {
    const text = await page.textContent(selector);
    if (expected instanceof RegExp) assert.match(text, expected, selector);
    else assert.equal(text, expected, selector);
  }
}

// Which of the demo's buttons are enabled, in page order.
async function enabledButtons(page) {
  return page.$$eval("button", (buttons) => buttons.filter((b) => !b.disabled).map((b) => b.id));
}

async function picture(page, name) {
  if (screenshots) await page.screenshot({ path: path.join(screenshots, name), fullPage: true });
}

const manifestPath = () => path.join(work, "profile/NativeMessagingHosts", `${HOST_NAME}.json`);

// Runs `body` with the browser's host manifest changed by `edit` (null
// removes it); the browser reads it at each host start.
async function withManifest(edit, body) {
  const original = fs.readFileSync(manifestPath(), "utf8");
  const changed = edit(JSON.parse(original));
  if (changed === null) fs.rmSync(manifestPath());
  else fs.writeFileSync(manifestPath(), JSON.stringify(changed));
  try {
    await body();
  } finally {
    fs.writeFileSync(manifestPath(), original);
  }
}

before(async () => {
  work = temporaryFolder();
  web = await serveWeb();
  const env = prepareKeys(build, work, [`http://localhost:${web.port}`]);
  certificatePem = fs.readFileSync(path.join(work, "keys/cert.pem"), "utf8");
  // No display: every dialog answers "no" at once.
  browser = await launchChromium(build, work, { ...env, DISPLAY: "", WAYLAND_DISPLAY: "" });
});

after(async () => {
  await browser?.close();
  web?.server.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test("the demo page signs by certificate serial, says what happens at each step, and forgets on disconnect", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  await shows(page, "#status", "Ready: connect to a token.");
  assert.deepEqual(await enabledButtons(page), ["connect", "store-choose"]);

  await page.click("#connect");
  await shows(page, "#status", "Connected. Enter the PIN and log in to see the certificates and sign.");
  assert.notEqual(await page.textContent("#token-serial"), "—");
  assert.deepEqual(await enabledButtons(page), ["login", "disconnect", "store-choose"]);

  await page.fill("#pin", "0000");
  await page.click("#login");
  await shows(page, "#status", "Login refused: Wrong PIN. (code 4001)");
  assert.equal(await page.getAttribute("#status", "class"), "failed");
  // An empty PIN is meant for a reader's keypad; this token has none.
  await page.fill("#pin", "");
  await page.click("#login");
  await shows(page, "#status", /^Login refused: Wrong PIN\. \(code 4001\) Type your PIN on your card reader's keypad/);

  await page.fill("#pin", "1234");
  await page.click("#login");
  await shows(page, "#status", "Logged in. One certificate on the token: choose one and sign.");
  assert.equal(await page.locator("#certificates tr").count(), 1);
  const serial = await page.textContent("#certificates tr td:nth-child(4)");
  assert.match(await page.textContent("#certificates tr td:nth-child(2)"), /CN=Tarvona Demo/);
  assert.deepEqual(await enabledButtons(page), ["disconnect", "sign", "store-choose"]);

  await page.click("#sign");
  await shows(page, "#signature", /^[0-9A-F]{512}$/);
  await shows(page, "#status", "Signed. Verify checks the signature against the text as it is now.");
  assert.deepEqual(await enabledButtons(page), ["disconnect", "sign", "verify", "store-choose"]);
  await page.click("#verify");
  await shows(page, "#verification", "The signature is valid. (code 0)");

  const text = await page.inputValue("#text");
  const signature = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificatePem, signature));

  // Changed text takes the verdict away; the old signature no longer fits it.
  await page.fill("#text", "Pay 1000 EUR to Bob");
  await shows(page, "#verification", "—");
  await page.click("#verify");
  await shows(page, "#verification", "The signature does not verify. (code 1007)");
  await page.fill("#text", text);

  // A new signature takes the old verdict away too.
  await page.click("#verify");
  await shows(page, "#verification", "The signature is valid. (code 0)");
  await page.selectOption("#hash", "SHA-256");
  await shows(page, "#verification", "—");
  await page.click("#sign");
  await shows(page, "#signature", /^[0-9A-F]{512}$/);
  await until(async () => (await page.textContent("#signature")) !== signature.toString("hex").toUpperCase(), "the SHA-256 signature");
  assert.equal(await page.textContent("#verification"), "—");
  const sha256 = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha256", Buffer.from(text), certificatePem, sha256));
  await page.click("#verify");
  await shows(page, "#verification", "The signature is valid. (code 0)");

  // The store road on the same page: the same certificate in the NSS store,
  // found by its serial only when written with its DER leading 00.
  assert.match(await page.textContent("#store-hint"), /byte for byte.*leading 00/s);
  await page.fill("#store-serial", "0BAD");
  assert.ok((await enabledButtons(page)).includes("store-sign"));
  await page.click("#store-sign");
  await shows(page, "#store-result", /^No signature: the store holds no certificate with a private key and this serial number\./);
  assert.equal(await page.textContent("#store-signature"), "—");
  await page.fill("#store-serial", serial);
  await page.click("#store-sign");
  await shows(page, "#store-result", "Signed with the store's private key.");
  const reversed = Buffer.from(await page.textContent("#store-signature"), "hex").reverse();
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificatePem, reversed));
  // Without a display the certificate dialog answers "none" at once.
  await page.click("#store-choose");
  await shows(page, "#store-result", /^No signature: no certificate was chosen/);
  await page.fill("#store-serial", serial);
  await page.click("#store-sign");
  await shows(page, "#store-result", "Signed with the store's private key.");
  await picture(page, "demo-page.png");

  // Disconnecting forgets the token: its serial, certificates, signature
  // and verdict; only what needs no token stays usable.
  await page.click("#disconnect");
  await shows(page, "#status", "Disconnected. Connect again to use the token.");
  assert.equal(await page.textContent("#token-serial"), "—");
  assert.equal(await page.locator("#certificates tr").count(), 0);
  assert.equal(await page.textContent("#signature"), "—");
  assert.equal(await page.textContent("#verification"), "—");
  assert.deepEqual(await enabledButtons(page), ["connect", "store-sign", "store-choose"]);

  // Closing the tab closes the host's input: the host ends.
  assert.ok(hostProcesses(build).length > 0);
  await page.close();
  await until(() => hostProcesses(build).length === 0, "the host to end", 5000);
});

test("a page may not name files: certificate source 4 is refused before any file is read", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  await shows(page, "#status", "Ready: connect to a token.");
  const file = path.join(work, "keys/cert.pem");
  // SHA-1 over one zero byte, least significant byte first as the store road takes it.
  const key = fs.readFileSync(path.join(work, "keys/key.pem"), "utf8");
  const signature = crypto.sign("sha1", Buffer.from([0]), key).reverse().toString("hex").toUpperCase();
  const results = await page.evaluate(async ([file, pem, signature]) => {
    const { call } = window.tarvonaDemo;
    const data = "00";
    return {
      byText: await call("VerifyByCSP", 0, 2, pem, 0, data, signature),
      byFile: await call("VerifyByCSP", 0, 4, file, 0, data, signature),
      missing: await call("VerifyByCSP", 0, 4, file + ".missing", 0, data, signature),
      encrypted: await call("EncryptByCSP", 0, 4, file, 0, data),
      signed: await call("SignByCSP", 0, 4, file, 0, data),
      decrypted: await call("DecryptByCSP", 0, 4, file, 0, data),
    };
  }, [file, certificatePem, signature]);
  assert.deepEqual(results, { byText: 0, byFile: 1004, missing: 1004, encrypted: "", signed: "", decrypted: "" });
  await page.close();
});

test("a page from an origin the user has not allowed is told how to allow it", async () => {
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${web.port}/demo/index.html`);
  await shows(page, "#status", /^This site may not use your security tokens and certificates\. .*Allow in the Tarvona dialog.*~\/\.config\/tarvona\/allowed-origins/);
  assert.deepEqual(await enabledButtons(page), []);
  await picture(page, "demo-page-refused.png");
  await page.close();
});

test("while the consent dialog waits, the page says it waits for the user's permission", async () => {
  // A host of its own, beside a stand-in for the dialog that tells the test
  // it was asked and answers what the test writes; a display is named so
  // the host asks at all.
  const folder = path.join(work, "consent-host");
  fs.mkdirSync(folder);
  fs.copyFileSync(path.join(build, "bin/tarvona-host"), path.join(folder, "tarvona-host"));
  fs.chmodSync(path.join(folder, "tarvona-host"), 0o755);
  fs.writeFileSync(path.join(folder, "tarvona-consent"), `#!/bin/sh
: > "${folder}/asked"
i=0
while [ ! -f "${folder}/answer" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
cat "${folder}/answer" 2>/dev/null || echo deny
`, { mode: 0o755 });
  fs.writeFileSync(path.join(folder, "host.sh"), `#!/bin/sh
DISPLAY=:tarvona-test exec "${folder}/tarvona-host" "$@"
`, { mode: 0o755 });

  await withManifest((manifest) => ({ ...manifest, path: path.join(folder, "host.sh") }), async () => {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${web.port}/demo/index.html`);
    await until(() => fs.existsSync(path.join(folder, "asked")), "the consent dialog");
    await shows(page, "#status", "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.");
    assert.deepEqual(await enabledButtons(page), []);
    await picture(page, "demo-page-waiting.png");
    fs.writeFileSync(path.join(folder, "answer"), "once\n");
    await shows(page, "#status", "Ready: connect to a token.");
    await page.close();
  });
});

test("a missing host or extension is named, with how to install it", async () => {
  await withManifest(() => null, async () => {
    const page = await browser.newPage();
    await page.goto(`http://localhost:${web.port}/demo/index.html`);
    await shows(page, "#status", /^The Tarvona host is not installed\. Install the tarvona package \(sudo apt install \.\/tarvona_<version>_amd64\.deb\)/);
    await page.close();
  });

  // The extension's content script runs on https pages, localhost and
  // 127.0.0.1 only: from 127.0.0.2 the page has no extension.
  const other = await serveWeb("127.0.0.2");
  try {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.2:${other.port}/demo/index.html`);
    await shows(page, "#status", /^The Tarvona browser extension is not installed or not enabled for this site\./);
    assert.deepEqual(await enabledButtons(page), []);
    await page.close();
  } finally {
    other.server.close();
  }
});

test("describe gives a sentence for every result code and every way a call fails", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  const sentences = await page.evaluate(async () => {
    const { TarvonaActiveX } = await import("/tarvona.js");
    const codes = [0, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011,
      1301, 1302, 1303, 1304, 1305, 4001, 4002, 4003, 4004, 4005, 4006, 4007, 4008, 5001];
    const names = ["E_ACCESSDENIED", "REGDB_E_CLASSNOTREG", "CO_E_DLLNOTFOUND", "DISP_E_UNKNOWNNAME",
      "DISP_E_BADPARAMCOUNT", "DISP_E_TYPEMISMATCH", "DISP_E_OVERFLOW", "DISP_E_MEMBERNOTFOUND",
      "E_INVALIDARG", "E_HANDLE", "E_FAIL", "waiting-for-permission", "pin-on-reader"];
    const refused = new Error("x");
    refused.name = "E_ACCESSDENIED";
    return {
      all: [...codes, ...names].map((c) => [c, TarvonaActiveX.describe(c)]),
      some: [4001, 4006, 1003, 4242].map((c) => TarvonaActiveX.describe(c)),
      error: TarvonaActiveX.describe(refused) === TarvonaActiveX.describe("E_ACCESSDENIED"),
    };
  });
  for (const [code, sentence] of sentences.all) {
    assert.match(sentence, /^[A-Z].*\.$/, `${code}: ${sentence}`);
    assert.doesNotMatch(sentence, /^Unknown/, `${code}`);
  }
  assert.equal(new Set(sentences.all.map(([, s]) => s)).size, sentences.all.length, "one sentence each");
  assert.deepEqual(sentences.some, ["Wrong PIN.", "The PIN is locked.", "No token is connected.", "Unknown result 4242."]);
  assert.ok(sentences.error);
  await page.close();
  // A browser set to German hears German (navigator.language; the
  // extension's persistent context keeps the machine's locale, so the page
  // is told it).
  const german = await browser.newPage();
  await german.addInitScript(() => Object.defineProperty(Navigator.prototype, "language", { get: () => "de-DE" }));
  await german.goto(`http://localhost:${web.port}/demo/index.html`);
  const said = await german.evaluate(async () => (await import("/tarvona.js")).TarvonaActiveX.describe(4001));
  assert.equal(said, "Falsche PIN.");
  await german.close();
});

test("host errors reject with the automation error's name", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  const names = await page.evaluate(async () => {
    const { TarvonaActiveX } = await import("/tarvona.js");
    const ctrl = await TarvonaActiveX.create("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
    const caught = [];
    for (const call of [() => ctrl.NoSuchMethod(), () => ctrl.Login(1), () => ctrl.Hash(1, "x", "00")]) {
      try {
        await call();
        caught.push("resolved");
      } catch (e) {
        caught.push(e.name);
      }
    }
    caught.push(await ctrl.VerifyCertCRL(0, 0, ""));
    await ctrl.release();
    return caught;
  });
  assert.deepEqual(names, ["DISP_E_UNKNOWNNAME", "DISP_E_BADPARAMCOUNT", "DISP_E_TYPEMISMATCH", 1]);
  await page.close();
});
