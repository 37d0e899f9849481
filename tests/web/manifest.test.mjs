// The extension's shape for both browsers: Chromium reads the service
// worker and the key, Firefox the background scripts and its add-on ID.
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { EXTENSION, EXTENSION_ID, HOST_NAME } from "./harness.mjs";

const manifest = JSON.parse(fs.readFileSync(path.join(EXTENSION, "manifest.json"), "utf8"));

test("the manifest serves Chromium and Firefox alike", () => {
  assert.equal(manifest.manifest_version, 3);
  assert.deepEqual(manifest.permissions, ["nativeMessaging"]);
  assert.equal(manifest.background.service_worker, "background.js");
  assert.deepEqual(manifest.background.scripts, ["background.js"]);
  assert.match(manifest.browser_specific_settings.gecko.id, /^[\w.-]+@[\w.-]+$/);
  for (const file of ["background.js", ...manifest.content_scripts.flatMap((c) => c.js)]) {
    assert.ok(fs.existsSync(path.join(EXTENSION, file)), file);
  }
  // Content scripts only where the host would accept the origin anyway.
  for (const match of manifest.content_scripts[0].matches) {
    assert.match(match, /^(https:\/\/\*\/\*|http:\/\/(localhost|127\.0\.0\.1)\/\*)$/);
  }
});

test("the key gives the fixed extension ID the host manifests name", () => {
  const digest = crypto.createHash("sha256").update(Buffer.from(manifest.key, "base64")).digest("hex");
  const id = [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
  assert.equal(id, EXTENSION_ID);
  // The package's .crx is signed with the private half kept for it.
  const kept = crypto.createPublicKey(fs.readFileSync(path.join(EXTENSION, "../../packaging/extension-key.pem")));
  assert.equal(kept.export({ type: "spki", format: "der" }).toString("base64"), manifest.key);
});

test("the worker names the host the install script registers", () => {
  const worker = fs.readFileSync(path.join(EXTENSION, "background.js"), "utf8");
  assert.ok(worker.includes(`"${HOST_NAME}"`));
  // Both browsers' APIs: Firefox's `browser`, Chromium's `chrome`.
  for (const file of ["background.js", "content.js"]) {
    const text = fs.readFileSync(path.join(EXTENSION, file), "utf8");
    assert.ok(text.includes('typeof browser !== "undefined" ? browser : chrome'), file);
  }
  const install = fs.readFileSync(path.join(EXTENSION, "../../scripts/tarvona-install.sh"), "utf8");
  assert.ok(install.includes(`host_name=${HOST_NAME}`));
  assert.ok(install.includes(`chromium_id=${EXTENSION_ID}`));
  assert.ok(install.includes(`firefox_id=${manifest.browser_specific_settings.gecko.id}`));
});
