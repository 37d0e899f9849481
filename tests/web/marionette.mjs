// A small client of Firefox's Marionette protocol: enough to start Firefox
// headless with a fresh profile, install an unpacked extension for the
// session, open a page and run script in it.
import { spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import path from "node:path";

export class Marionette {
  constructor(socket) {
    this.socket = socket;
    this.buffer = Buffer.alloc(0);
    this.waiting = [];
    this.nextId = 1;
    socket.on("data", (data) => {
      this.buffer = Buffer.concat([this.buffer, data]);
      for (;;) {
        const colon = this.buffer.indexOf(":");
        if (colon < 0) return;
        const length = Number(this.buffer.subarray(0, colon).toString());
        if (this.buffer.length < colon + 1 + length) return;
        const message = JSON.parse(this.buffer.subarray(colon + 1, colon + 1 + length).toString());
        this.buffer = this.buffer.subarray(colon + 1 + length);
        this.waiting.shift()?.(message);
      }
    });
  }

  static async connect(port) {
    const socket = await new Promise((resolve, reject) => {
      const s = net.connect(port, "127.0.0.1", () => resolve(s));
      s.on("error", reject);
    });
    const client = new Marionette(socket);
    await new Promise((resolve) => client.waiting.push(resolve));  // the greeting
    return client;
  }

  async command(name, parameters = {}) {
    const id = this.nextId++;
    const body = JSON.stringify([0, id, name, parameters]);
    const reply = new Promise((resolve) => this.waiting.push(resolve));
    this.socket.write(`${Buffer.byteLength(body)}:${body}`);
    const [, , error, result] = await reply;
    if (error) throw new Error(`${name}: ${error.error}: ${error.message}`);
    return result;
  }

  close() {
    this.socket.destroy();
  }
}

// Firefox headless on a profile of its own, with Marionette on a free port.
export async function launchFirefox(profile, env) {
  fs.mkdirSync(profile, { recursive: true });
  const prefs = {
    "marionette.port": 0,
    "browser.shell.checkDefaultBrowser": false,
    "datareporting.policy.dataSubmissionEnabled": false,
    "browser.startup.homepage_override.mstone": "ignore",
    "app.update.disabledForTesting": true,
    "extensions.autoDisableScopes": 0,
    "network.captive-portal-service.enabled": false,
    "browser.safebrowsing.update.enabled": false,
  };
  fs.writeFileSync(
    path.join(profile, "user.js"),
    Object.entries(prefs).map(([k, v]) => `user_pref(${JSON.stringify(k)}, ${JSON.stringify(v)});`).join("\n"),
  );
  const firefox = spawn(process.env.FIREFOX || "/usr/bin/firefox-esr",
                        ["--headless", "--marionette", "--no-remote", "--profile", profile],
                        { env: { ...process.env, ...env }, stdio: "ignore" });
  const portFile = path.join(profile, "MarionetteActivePort");
  const end = Date.now() + 30000;
  while (!fs.existsSync(portFile)) {
    if (Date.now() > end) throw new Error("Firefox did not start Marionette");
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  await new Promise((resolve) => setTimeout(resolve, 100));
  const client = await Marionette.connect(Number(fs.readFileSync(portFile, "utf8").trim()));
  await client.command("WebDriver:NewSession", { capabilities: {} });
  return {
    client,
    async close() {
      try {
        await client.command("Marionette:Quit", { flags: ["eForceQuit"] });
      } catch {
        // already gone
      }
      client.close();
      await new Promise((resolve) => (firefox.exitCode !== null ? resolve() : firefox.on("exit", resolve)));
    },
  };
}
