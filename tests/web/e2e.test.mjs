// The demo page in headless Chromium, through the extension and the native
// host, against a SoftHSM2 token and an NSS store.
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { hostProcesses, launchChromium, prepareKeys, serveWeb, SOURCE, temporaryFolder, until } from "./harness.mjs";

const build = path.resolve(process.env.TARVONA_BUILD || path.join(SOURCE, "build"));
let work;
let web;
let browser;
let certificatePem;

before(async () => {
  work = temporaryFolder();
  web = await serveWeb();
  const env = prepareKeys(build, work, [`http://localhost:${web.port}`]);
  certificatePem = fs.readFileSync(path.join(work, "keys/cert.pem"), "utf8");
  browser = await launchChromium(build, work, env);
});

after(async () => {
  await browser?.close();
  web?.server.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test("the demo page signs by certificate serial and OpenSSL's peer verifies it", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  await until(async () => (await page.textContent("#status")).startsWith("Ready"), "the control");

  await page.click("#connect");
  await until(async () => (await page.textContent("#token-serial")) !== "—", "the token");
  await page.fill("#pin", "1234");
  await page.click("#login");
  await until(async () => (await page.locator("#certificates tr").count()) === 1, "the certificates");
  const serial = await page.textContent("#certificates tr td:nth-child(4)");
  assert.match(await page.textContent("#certificates tr td:nth-child(2)"), /CN=Tarvona Demo/);

  await page.click("#sign");
  await until(async () => /^[0-9A-F]{512}$/.test(await page.textContent("#signature")), "the signature");
  await page.click("#verify");
  await until(async () => (await page.textContent("#verification")) !== "—", "the verification");
  assert.equal(await page.textContent("#verification"), "valid (0)");

  const text = await page.inputValue("#text");
  const signature = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificatePem, signature));

  // The store road on the same page: the same certificate in the NSS store.
  await page.fill("#store-serial", serial);
  await page.click("#store-sign");
  await until(async () => /^[0-9A-F]{512}$/.test(await page.textContent("#store-signature")), "the store signature");
  const reversed = Buffer.from(await page.textContent("#store-signature"), "hex").reverse();
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificatePem, reversed));

  // A modern hash through raw signing over a DigestInfo built page-side.
  await page.selectOption("#hash", "SHA-256");
  await page.click("#sign");
  await until(async () => (await page.textContent("#signature")) !== signature.toString("hex").toUpperCase(), "the SHA-256 signature");
  const sha256 = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha256", Buffer.from(text), certificatePem, sha256));

  // Closing the tab closes the host's input: the host ends.
  assert.ok(hostProcesses(build).length > 0);
  await page.close();
  await until(() => hostProcesses(build).length === 0, "the host to end", 5000);
});

test("a page from an origin the user has not allowed is refused", async () => {
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${web.port}/demo/index.html`);
  await until(async () => (await page.textContent("#status")).startsWith("E_ACCESSDENIED"), "the refusal");
  await page.close();
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
