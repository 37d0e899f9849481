// The demo page in Chromium with the extension: a window to click through
// when there is a display; without one, the page is driven headless through
// the typical road and its log printed, with a screenshot.
//   node tests/web/browser-demo.mjs --build DIR --work DIR
import fs from "node:fs";
import path from "node:path";
import { parseArgs } from "node:util";
import { launchChromium, prepareKeys, serveWeb } from "./harness.mjs";

const { values } = parseArgs({ options: { build: { type: "string" }, work: { type: "string" } } });
const build = path.resolve(values.build);
const work = path.resolve(values.work, "browser");
fs.mkdirSync(work, { recursive: true });

const web = await serveWeb();
const origin = `http://localhost:${web.port}`;
const env = prepareKeys(build, work, [origin]);
const display = Boolean(process.env.DISPLAY || process.env.WAYLAND_DISPLAY);
const browser = await launchChromium(build, work, env, { headless: !display });
const page = await browser.newPage();
await page.goto(`${origin}/demo/index.html`);
console.log(`Demo page: ${origin}/demo/index.html (token PIN 1234)`);

if (display) {
  console.log("Close the browser window to end the demo.");
  await new Promise((resolve) => browser.on("close", resolve));
} else {
  const wait = (selector, test) =>
    page.waitForFunction(([s, t]) => new RegExp(t).test(document.querySelector(s).textContent), [selector, test]);
  await wait("#status", "^Ready");
  await page.click("#connect");
  await wait("#token-serial", "[0-9a-f]");
  await page.fill("#pin", "1234");
  await page.click("#login");
  await page.waitForSelector("#certificates tr");
  await page.click("#sign");
  await wait("#signature", "^[0-9A-F]+$");
  await page.click("#verify");
  await wait("#verification", "\\(");
  await page.fill("#store-serial", await page.textContent("#certificates tr td:nth-child(4)"));
  await page.click("#store-sign");
  await wait("#store-signature", "^[0-9A-F]+$");
  console.log(await page.textContent("#log"));
  console.log(`Verification on the token: ${await page.textContent("#verification")}`);
  await page.screenshot({ path: "tarvona-demo.png", fullPage: true });
  console.log("Screenshot of the page: tarvona-demo.png");
  await browser.close();
}
web.server.close();
