// Shared by the end-to-end tests and the browser demo: a localhost server
// for web/, a fresh Chromium profile whose native-messaging host is our
// tarvona-host, and the demo's keys and registration.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

export const SOURCE = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const EXTENSION = path.join(SOURCE, "web/extension");
export const EXTENSION_ID = "ndclhbempiipciignpnikgelcjcbaane";
export const HOST_NAME = "com.tarvona.host";

const TYPES = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css" };

// Serves web/ on a loopback address (127.0.0.1 unless named) at a free port.
export async function serveWeb(address = "127.0.0.1") {
  const root = path.join(SOURCE, "web");
  const server = http.createServer((request, response) => {
    const file = path.join(root, decodeURIComponent(new URL(request.url, "http://x").pathname));
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": TYPES[path.extname(file)] || "application/octet-stream" });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, address, resolve));
  return { server, port: server.address().port };
}

// Keys, a registered control and an allow-list in a folder of their own;
// returns the environment the host needs.
export function prepareKeys(build, work, allowedOrigins) {
  execFileSync(path.join(SOURCE, "scripts/demo-keys.sh"), [path.join(work, "keys")]);
  const env = {};
  const lines = fs.readFileSync(path.join(work, "keys/env"), "utf8").split("\n");
  for (const line of lines) {
    const match = /^export (\w+)="(.*)"$/.exec(line);
    if (match) env[match[1]] = match[2];
  }
  return registerControl(build, work, allowedOrigins, env);
}

// The control registered and the origins allowed in a folder of their own;
// returns `env` with the variables that point the host there.
export function registerControl(build, work, allowedOrigins, env = {}) {
  env.XDG_DATA_HOME = path.join(work, "data");
  env.XDG_CONFIG_HOME = path.join(work, "config");
  fs.mkdirSync(path.join(env.XDG_CONFIG_HOME, "tarvona"), { recursive: true });
  fs.writeFileSync(path.join(env.XDG_CONFIG_HOME, "tarvona/allowed-origins"), allowedOrigins.join("\n") + "\n");
  execFileSync(path.join(build, "bin/tarvona-regsvr"), [path.join(build, "bin/TarvonaActiveX.ocx")], {
    env: { ...process.env, ...env },
  });
  return env;
}

// Chromium with the extension loaded and a fresh profile whose
// NativeMessagingHosts folder names our host.
export async function launchChromium(build, work, env, { headless = true } = {}) {
  const profile = path.join(work, "profile");
  fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
  fs.writeFileSync(
    path.join(profile, "NativeMessagingHosts", `${HOST_NAME}.json`),
    JSON.stringify({
      name: HOST_NAME,
      description: "Tarvona control host",
      path: path.join(build, "bin/tarvona-host"),
      type: "stdio",
      allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
    }),
  );
  const args = [
    "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    `--load-extension=${EXTENSION}`, `--disable-extensions-except=${EXTENSION}`,
  ];
  if (headless) args.unshift("--headless=new");
  return chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: false,  // new headless mode comes from the argument: it runs extensions
    args,
    env: { ...process.env, ...env },
  });
}

// The pids of running tarvona-host programs of this build.
export function hostProcesses(build) {
  const host = fs.realpathSync(path.join(build, "bin/tarvona-host"));
  const pids = [];
  for (const entry of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      if (fs.readlinkSync(`/proc/${entry}/exe`) === host) pids.push(Number(entry));
    } catch {
      // gone, or not ours to read
    }
  }
  return pids;
}

export function temporaryFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "tarvona-web-"));
}

// Polls `condition` until it holds; fails the test naming `what` after `timeout` ms.
export async function until(condition, what, timeout = 10000) {
  const end = Date.now() + timeout;
  while (Date.now() < end) {
    if (await condition()) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  assert.fail(`timed out waiting for ${what}`);
}
