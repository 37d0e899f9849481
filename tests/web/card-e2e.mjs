// The demo page in headless Chromium with a smart card: the emulated CAC card
// of testing/card/card-rig.sh (which runs this file), OpenSC reached through
// p11-kit, the control on its default road. Not a *.test.mjs file: it needs
// the rig, so `node --test` in this folder leaves it out.
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { hostProcesses, launchChromium, registerControl, serveWeb, SOURCE, temporaryFolder, until } from "./harness.mjs";

const build = path.resolve(process.env.TARVONA_BUILD || path.join(SOURCE, "build"));
let work;
let web;
let browser;
let certificate;

before(async () => {
  assert.ok(process.env.TARVONA_CARD_PIN, "run inside testing/card/card-rig.sh (it gives the card's PIN)");
  for (const name of ["TARVONA_PKCS11_MODULE", "TARVONAV4_PKCS11_MODULE", "TARVONAV5_PKCS11_MODULE"]) {
    assert.equal(process.env[name], undefined, `${name} would leave the default road`);
  }
  certificate = new crypto.X509Certificate(fs.readFileSync(process.env.TARVONA_CARD_CERT));
  work = temporaryFolder();
  web = await serveWeb();
  const env = registerControl(build, work, [`http://localhost:${web.port}`]);
  browser = await launchChromium(build, work, env);
});

after(async () => {
  await browser?.close();
  web?.server.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test("the demo page signs with the smart card and the signatures verify", async () => {
  const page = await browser.newPage();
  await page.goto(`http://localhost:${web.port}/demo/index.html`);
  await until(async () => (await page.textContent("#status")).startsWith("Ready"), "the control");

  await page.click("#connect");
  await until(async () => (await page.textContent("#token-serial")) !== "—", "the card's token");
  await page.fill("#pin", process.env.TARVONA_CARD_PIN);
  await page.click("#login");
  await until(async () => (await page.locator("#certificates tr").count()) === 1, "the card's certificate", 20000);
  assert.match(await page.textContent("#certificates tr td:nth-child(2)"), /CN=Tarvona Card/);
  const serial = await page.textContent("#certificates tr td:nth-child(4)");
  assert.equal(serial.replace(/^(00)+/, ""), certificate.serialNumber.replace(/^(00)+/, ""));

  const text = await page.inputValue("#text");
  await page.click("#sign");
  await until(async () => /^[0-9A-F]{512}$/.test(await page.textContent("#signature")), "the signature");
  const sha1 = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificate.publicKey, sha1));
  await page.click("#verify");
  await until(async () => (await page.textContent("#verification")) !== "—", "the verification");
  assert.equal(await page.textContent("#verification"), "The signature is valid. (code 0)");

  // SHA-256: signed raw over the DigestInfo the page builds.
  await page.selectOption("#hash", "SHA-256");
  await page.click("#sign");
  await until(async () => {
    const shown = await page.textContent("#signature");
    return /^[0-9A-F]{512}$/.test(shown) && shown !== sha1.toString("hex").toUpperCase();
  }, "the SHA-256 signature");
  const sha256 = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha256", Buffer.from(text), certificate.publicKey, sha256));

  assert.ok(hostProcesses(build).length > 0);
  await page.close();
  await until(() => hostProcesses(build).length === 0, "the host to end", 5000);
});
