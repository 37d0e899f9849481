// The installed package's default road: Chromium, started as a user starts
// it (no --load-extension), installs the extension from the package's .crx
// by itself; the demo page from /usr/share/tarvona signs by certificate
// serial through /usr/lib/tarvona/tarvona-host, the control registered for
// the machine, and p11-kit's proxy to the SoftHSM2 token; OpenSSL (node's
// crypto) verifies the signature. No TARVONA_* variable is set.
//   node default_road.mjs WORK   WORK: the folder with keys/ and profile/
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = createRequire(path.join(here, "../web/package.json"))("playwright-core");

const SHARE = "/usr/share/tarvona";
const HOST = "/usr/lib/tarvona/tarvona-host";
const MODULE = "/usr/lib/tarvona/TarvonaActiveX.ocx";
const work = process.argv[2];
const extensionId = process.env.EXTENSION_ID;
const profile = path.join(work, "profile");
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

// Through Debian's launcher, as a user starts it. The driver's switches
// against extensions go (--disable-default-apps turns off every external
// install); none is loaded by the command line.
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
  await page.goto(`${origin}/demo/index.html`);
  const shows = (selector, expected) =>
    until(async () => {
      const text = await page.textContent(selector);
      return expected instanceof RegExp ? expected.test(text) : text === expected;
    }, `${selector}: ${expected}`);
  await shows("#status", "Ready: connect to a token.");
  await page.click("#connect");
  await shows("#status", "Connected. Enter the PIN and log in to see the certificates and sign.");

  // The browser started the installed host, which loaded the installed
  // module through the machine's registration, with no TARVONA_* setting.
  const hosts = processes().filter((p) => p.exe === HOST);
  assert.equal(hosts.length, 1, "one installed host");
  const maps = fs.readFileSync(`/proc/${hosts[0].pid}/maps`, "utf8");
  assert.ok(maps.includes(MODULE), "the host loaded the installed module");
  // p11-kit's proxy is a name for libp11-kit; SoftHSM2 comes in through it.
  assert.ok(maps.includes("/libp11-kit.so"), "the adaptors forward to p11-kit's proxy");
  assert.ok(maps.includes("/libsofthsm2.so"), "p11-kit loaded SoftHSM2 from its module file");
  const environment = fs.readFileSync(`/proc/${hosts[0].pid}/environ`, "utf8").split("\0");
  assert.deepEqual(environment.filter((entry) => entry.startsWith("TARVONA")), []);

  await page.fill("#pin", "1234");
  await page.click("#login");
  await shows("#status", "Logged in. One certificate on the token: choose one and sign.");
  const certificate = fs.readFileSync(path.join(work, "keys/cert.pem"), "utf8");
  const serial = await page.textContent("#certificates tr td:nth-child(4)");
  assert.equal(BigInt(`0x${serial}`), BigInt(`0x${new crypto.X509Certificate(certificate).serialNumber}`));
  await page.click("#sign");
  await shows("#signature", /^[0-9A-F]{512}$/);
  const text = await page.inputValue("#text");
  const signature = Buffer.from(await page.textContent("#signature"), "hex");
  assert.ok(crypto.verify("sha1", Buffer.from(text), certificate, signature), "the signature verifies");
  await page.close();
  await until(() => !processes().some((p) => p.exe === HOST), "the host to end");
  console.log("default road: signed by certificate serial", serial, "and verified");
} finally {
  await browser.close();
  server.close();
}
