// The installed package's default road, in each browser as a user starts
// it, with a fresh profile and nothing installed by the test:
// - Chromium (no --load-extension) installs the extension from the
//   package's .crx by itself;
// - Debian's Firefox ESR installs and enables the package's unsigned .xpi
//   from its system scope by itself (no temporary add-on, no preference
//   about signing or scopes), found through
//   /usr/lib/mozilla/native-messaging-hosts.
// In each, the demo page from /usr/share/tarvona signs by certificate
// serial through /usr/lib/tarvona/tarvona-host, the control registered for
// the machine, and p11-kit's proxy to the SoftHSM2 token; OpenSSL (node's
// crypto) verifies the signature. No TARVONA_* variable is set.
//   node default_road.mjs WORK   WORK: the folder with keys/
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { Marionette } from "../web/marionette.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = createRequire(path.join(here, "../web/package.json"))("playwright-core");

const SHARE = "/usr/share/tarvona";
const HOST = "/usr/lib/tarvona/tarvona-host";
const MODULE = "/usr/lib/tarvona/TarvonaActiveX.ocx";
const FIREFOX_ID = JSON.parse(fs.readFileSync(`${SHARE}/extension/manifest.json`, "utf8"))
  .browser_specific_settings.gecko.id;
// Firefox's system scope for add-ons of Firefox (its application ID).
const XPI = `/usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/${FIREFOX_ID}.xpi`;
const work = process.argv[2];
const extensionId = process.env.EXTENSION_ID;
assert.ok(work && extensionId, "usage: EXTENSION_ID=... node default_road.mjs WORK");
assert.deepEqual(Object.keys(process.env).filter((name) => name.startsWith("TARVONA")), []);

async function until(condition, what, timeout = 30000) {
  const end = Date.now() + timeout;
  while (Date.now() < end) {
    if (await condition()) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`timed out waiting for ${what}`);
}

function processes() {
  const found = [];
  for (const pid of fs.readdirSync("/proc").filter((entry) => /^\d+$/.test(entry))) {
    try {
      found.push({
        pid,
        exe: fs.readlinkSync(`/proc/${pid}/exe`),
        args: fs.readFileSync(`/proc/${pid}/cmdline`, "utf8").split("\0"),
      });
    } catch {
      // gone, or a kernel thread
    }
  }
  return found;
}

// The installed web pages on a loopback port.
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css" };
const server = http.createServer((request, response) => {
  const file = path.join(SHARE, decodeURIComponent(new URL(request.url, "http://x").pathname));
  if (!file.startsWith(SHARE + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "content-type": TYPES[path.extname(file)] || "application/octet-stream" });
  fs.createReadStream(file).pipe(response);
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const origin = `http://localhost:${server.address().port}`;
const config = path.join(process.env.HOME, ".config/tarvona");
fs.mkdirSync(config, { recursive: true });
fs.writeFileSync(path.join(config, "allowed-origins"), `${origin}\n`);

// The browser started the installed host, which loaded the installed module
// through the machine's registration, with no TARVONA_* setting.
function checkHost() {
  const hosts = processes().filter((p) => p.exe === HOST);
  assert.equal(hosts.length, 1, "one installed host");
  const maps = fs.readFileSync(`/proc/${hosts[0].pid}/maps`, "utf8");
  assert.ok(maps.includes(MODULE), "the host loaded the installed module");
  // p11-kit's proxy is a name for libp11-kit; SoftHSM2 comes in through it.
  assert.ok(maps.includes("/libp11-kit.so"), "the adaptors forward to p11-kit's proxy");
  assert.ok(maps.includes("/libsofthsm2.so"), "p11-kit loaded SoftHSM2 from its module file");
  const environment = fs.readFileSync(`/proc/${hosts[0].pid}/environ`, "utf8").split("\0");
  assert.deepEqual(environment.filter((entry) => entry.startsWith("TARVONA")), []);
}

// The demo page, as a person uses it: `ui` opens, clicks, types and reads.
async function walkDemo(browserName, ui) {
  await ui.open(`${origin}/demo/index.html`);
  const shows = (selector, expected) =>
    until(async () => {
      const text = await ui.text(selector);
      return expected instanceof RegExp ? expected.test(text) : text === expected;
    }, `${browserName}: ${selector}: ${expected}`);
  await shows("#status", "Ready: connect to a token.");
  await ui.click("#connect");
  await shows("#status", "Connected. Enter the PIN and log in to see the certificates and sign.");
  checkHost();

  await ui.type("#pin", "1234");
  await ui.click("#login");
  await shows("#status", "Logged in. One certificate on the token: choose one and sign.");
  const certificate = fs.readFileSync(path.join(work, "keys/cert.pem"), "utf8");
  const serial = await ui.text("#certificates tr td:nth-child(4)");
  assert.equal(BigInt(`0x${serial}`), BigInt(`0x${new crypto.X509Certificate(certificate).serialNumber}`));
  await ui.click("#sign");
  await shows("#signature", /^[0-9A-F]{512}$/);
  const text = await ui.value("#text");
  const signature = Buffer.from(await ui.text("#signature"), "hex");
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificate, signature), `${browserName}: the signature verifies`);
  await ui.leave();
  await until(() => !processes().some((p) => p.exe === HOST), `${browserName}: the host to end`);
  console.log(`${browserName}: signed by certificate serial ${serial} and verified`);
}

// Through Debian's launcher, as a user starts it. The driver's switches
// against extensions go (--disable-default-apps turns off every external
// install); none is loaded by the command line.
async function chromiumRoad() {
  const profile = path.join(work, "chromium");
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: false,
    ignoreDefaultArgs: ["--disable-extensions", "--disable-default-apps"],
    args: [
      "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
    ],
  });
  try {
    const browserArgs = processes().filter((p) => p.args.includes(`--user-data-dir=${profile}`)).flatMap((p) => p.args);
    assert.ok(browserArgs.length > 0, "the browser's command line");
    assert.deepEqual(browserArgs.filter((arg) => /^--load-extension=./.test(arg)), []);

    // Chromium reads /usr/share/chromium/extensions at start and installs the .crx.
    const worker = `chrome-extension://${extensionId}/background.js`;
    await until(() => browser.serviceWorkers().some((w) => w.url() === worker), "the extension's worker", 60000);

    const page = await browser.newPage();
    await walkDemo("Chromium", {
      open: (url) => page.goto(url),
      click: (selector) => page.click(selector),
      type: (selector, text) => page.fill(selector, text),
      text: (selector) => page.textContent(selector),
      value: (selector) => page.inputValue(selector),
      leave: () => page.close(),
    });
  } finally {
    await browser.close();
  }
}

// A Marionette command that gives up after `timeout` ms.
function command(client, name, parameters = {}, timeout = 30000) {
  let timer;
  return Promise.race([
    client.command(name, parameters),
    new Promise((resolve, reject) => {
      timer = setTimeout(() => reject(new Error(`Firefox: ${name} timed out`)), timeout);
    }),
  ]).finally(() => clearTimeout(timer));
}

// Debian's Firefox ESR on a fresh profile, headless, with Marionette. Its
// automation preferences stay off: they would narrow the add-on scopes
// (extensions.enabledScopes 5, autoDisableScopes 0). Every connection but
// to localhost goes to a closed port.
async function firefoxRoad() {
  const profile = path.join(work, "firefox");
  fs.mkdirSync(profile);
  const prefs = {
    "marionette.port": 0,
    "remote.prefs.recommended": false,
    "browser.shell.checkDefaultBrowser": false,
    "browser.startup.homepage_override.mstone": "ignore",
    "datareporting.policy.dataSubmissionEnabled": false,
    "network.proxy.type": 1,
    "network.proxy.share_proxy_settings": true,
    "network.proxy.http": "127.0.0.1",
    "network.proxy.http_port": 9,
    "network.trr.mode": 5,
    "network.dns.disablePrefetch": true,
    "network.captive-portal-service.enabled": false,
    "network.connectivity-service.enabled": false,
  };
  assert.deepEqual(Object.keys(prefs).filter((name) => /^(extensions|xpinstall)\./.test(name)), []);
  fs.writeFileSync(
    path.join(profile, "user.js"),
    Object.entries(prefs).map(([k, v]) => `user_pref(${JSON.stringify(k)}, ${JSON.stringify(v)});\n`).join(""),
  );
  // A process group of its own, so that every process of it can be ended.
  const firefox = spawn("/usr/bin/firefox-esr", ["--headless", "--marionette", "--no-remote", "--profile", profile],
                        { detached: true, stdio: "ignore" });
  let gone = false;
  const exited = new Promise((resolve) => firefox.on("exit", resolve).on("error", resolve)).then(() => (gone = true));
  let client;
  try {
    const portFile = path.join(profile, "MarionetteActivePort");
    await until(() => {
      assert.ok(!gone, "Firefox ended at start");
      return fs.existsSync(portFile) && fs.readFileSync(portFile, "utf8").trim() !== "";
    }, "Firefox's Marionette");
    client = await Marionette.connect(Number(fs.readFileSync(portFile, "utf8").trim()));
    await command(client, "WebDriver:NewSession", { capabilities: {} });

    // Firefox found the package's .xpi in its system scope at start, and
    // installed and enabled it; it records that in the profile.
    const database = path.join(profile, "extensions.json");
    let addon;
    await until(() => {
      try {
        addon = JSON.parse(fs.readFileSync(database, "utf8")).addons.find((a) => a.id === FIREFOX_ID);
      } catch {
        addon = undefined;  // not written yet, or being written
      }
      return addon?.active;
    }, "the add-on active in the profile's extensions.json");
    assert.equal(addon.location, "app-system-share");
    assert.equal(addon.path, XPI);
    assert.equal(addon.userDisabled, false);
    console.log(`Firefox: ${FIREFOX_ID} ${addon.version} active from ${addon.location} (${addon.path})`);

    const element = async (selector) => {
      const { value } = await command(client, "WebDriver:FindElement", { using: "css selector", value: selector });
      return Object.values(value)[0];
    };
    const read = async (selector, property) => {
      const { value } = await command(client, "WebDriver:ExecuteScript", {
        script: `return document.querySelector(arguments[0])?.[arguments[1]] ?? null;`,
        args: [selector, property],
      });
      return value;
    };
    await walkDemo("Firefox", {
      open: (url) => command(client, "WebDriver:Navigate", { url }),
      click: async (selector) => command(client, "WebDriver:ElementClick", { id: await element(selector) }),
      type: async (selector, text) => command(client, "WebDriver:ElementSendKeys", { id: await element(selector), text }),
      text: (selector) => read(selector, "textContent"),
      value: (selector) => read(selector, "value"),
      leave: () => command(client, "WebDriver:Navigate", { url: "about:blank" }),
    });
  } finally {
    if (client) {
      await command(client, "Marionette:Quit", { flags: ["eForceQuit"] }, 10000).catch(() => {});
      client.close();
    }
    let timer;
    await Promise.race([exited, new Promise((resolve) => (timer = setTimeout(resolve, 10000)))]);
    clearTimeout(timer);
    // Whatever of it is still there, the browser itself included.
    try {
      process.kill(-firefox.pid, "SIGKILL");
    } catch {
      // the group is gone
    }
    await exited;
  }
}

try {
  await chromiumRoad();
  await firefoxRoad();
} finally {
  server.close();
}
