// The same road in Firefox ESR, driven through Marionette: the extension
// installed for the session, the host found through Firefox's own host
// manifest folder (~/.mozilla/native-messaging-hosts of the test's HOME).
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { EXTENSION, HOST_NAME, prepareKeys, serveWeb, SOURCE, temporaryFolder } from "./harness.mjs";
import { launchFirefox } from "./marionette.mjs";

const build = path.resolve(process.env.TARVONA_BUILD || path.join(SOURCE, "build"));
const manifest = JSON.parse(fs.readFileSync(path.join(EXTENSION, "manifest.json"), "utf8"));
let work;
let web;
let firefox;
let certificatePem;

before(async () => {
  work = temporaryFolder();
  web = await serveWeb();
  const env = prepareKeys(build, work, [`http://localhost:${web.port}`]);
  certificatePem = fs.readFileSync(path.join(work, "keys/cert.pem"), "utf8");
  const hosts = path.join(env.HOME, ".mozilla/native-messaging-hosts");
  fs.mkdirSync(hosts, { recursive: true });
  fs.writeFileSync(path.join(hosts, `${HOST_NAME}.json`), JSON.stringify({
    name: HOST_NAME,
    description: "Tarvona control host",
    path: path.join(build, "bin/tarvona-host"),
    type: "stdio",
    allowed_extensions: [manifest.browser_specific_settings.gecko.id],
  }));
  firefox = await launchFirefox(path.join(work, "firefox"), env);
  await firefox.client.command("Addon:Install", { path: EXTENSION, temporary: true });
});

after(async () => {
  await firefox?.close();
  web?.server.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

// Runs the page API in the page and returns what the function resolves to.
async function inPage(body) {
  const script = `const done = arguments[arguments.length - 1];
    import("/tarvona.js").then(async ({ TarvonaActiveX }) => {
      try { done(await (${body})(TarvonaActiveX)); } catch (e) { done({ error: e.name + ": " + e.message }); }
    });`;
  const { value } = await firefox.client.command("WebDriver:ExecuteAsyncScript", { script, args: [] });
  return value;
}

test("Firefox signs by certificate serial through the extension and the host", async () => {
  await firefox.client.command("WebDriver:Navigate", { url: `http://localhost:${web.port}/demo/index.html` });
  const road = await inPage(`async (T) => {
    const ctrl = await T.create("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
    const session = await ctrl.ConnectToken();
    const login = await ctrl.Login(session, "1234");
    const cert = await ctrl.EnumCertificate(session, 0);
    const serial = await ctrl.GetAttribute(session, cert, 3);
    const data = T.toHex("Pay 100 EUR to Bob");
    const signature = await ctrl.SignByCertSerial(session, serial, 0, data);
    const verified = await ctrl.VerifyByCertSerial(session, serial, 0, data, signature);
    const store = await ctrl.SignByCSP(0, 1, serial, 0, data);
    await ctrl.DisconnectToken(session);
    await ctrl.release();
    return { login, signature, verified, store };
  }`);
  assert.equal(road.error, undefined, road.error);
  assert.equal(road.login, 0);
  assert.equal(road.verified, 0);
  const text = Buffer.from("Pay 100 EUR to Bob");
  assert.ok(crypto.verify("sha1", text, certificatePem, Buffer.from(road.signature, "hex")));
  assert.ok(crypto.verify("sha1", text, certificatePem, Buffer.from(road.store, "hex").reverse()));
});

test("Firefox pages from other origins are refused", async () => {
  await firefox.client.command("WebDriver:Navigate", { url: `http://127.0.0.1:${web.port}/demo/index.html` });
  const refused = await inPage(`async (T) => T.create("TARVONAACTIVEX.TarvonaActiveXCtrl.1").then(() => "created")`);
  assert.match(refused.error, /^E_ACCESSDENIED/);
});
