// Writes the translations of the page API's sentences, taken from
// po/<language>.po, into web/tarvona.js between its "BEGIN TRANSLATIONS"
// and "END TRANSLATIONS" lines: the messages whose references name
// web/tarvona.js. With --check it changes nothing and fails when the file
// differs from what it would write.
//   node scripts/web-translations.mjs [--check]
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), "..");
const target = path.join(root, "web/tarvona.js");
const check = process.argv.includes("--check");

const ESCAPES = { n: "\n", t: "\t", r: "\r", '"': '"', "\\": "\\" };
function unquote(text) {
  const body = text.trim().replace(/^"|"$/g, "");
  return body.replace(/\\(.)/g, (_, c) => {
    if (!(c in ESCAPES)) throw new Error(`unexpected escape \\${c} in ${text}`);
    return ESCAPES[c];
  });
}

// The catalogue's messages as { references, flags, msgid, msgstr }.
function entries(file) {
  const found = [];
  for (const block of fs.readFileSync(file, "utf8").split(/\n\s*\n/)) {
    const entry = { references: "", flags: "", msgid: "", msgstr: "" };
    let field = null;
    for (const line of block.split("\n")) {
      if (line.startsWith("#:")) entry.references += ` ${line.slice(2)}`;
      else if (line.startsWith("#,")) entry.flags += ` ${line.slice(2)}`;
      else if (line.startsWith("#")) field = null;
      else if (/^msg(id|str) /.test(line)) {
        field = line.slice(0, line.indexOf(" "));
        entry[field] = unquote(line.slice(field.length + 1));
      } else if (line.startsWith('"') && field) entry[field] += unquote(line);
    }
    if (entry.msgid) found.push(entry);
  }
  return found;
}

const languages = fs.readdirSync(path.join(root, "po")).filter((f) => f.endsWith(".po")).map((f) => f.slice(0, -3)).sort();
let table = "const TRANSLATIONS = {\n";
for (const language of languages) {
  table += `  ${language}: {\n`;
  for (const entry of entries(path.join(root, "po", `${language}.po`))) {
    if (!/(^|\s)web\/tarvona\.js(:|\s|$)/.test(entry.references) || entry.flags.includes("fuzzy") || !entry.msgstr) continue;
    table += `    ${JSON.stringify(entry.msgid)}:\n      ${JSON.stringify(entry.msgstr)},\n`;
  }
  table += "  },\n";
}
table += "};\n";

const text = fs.readFileSync(target, "utf8");
const begin = text.indexOf("// BEGIN TRANSLATIONS\n");
const end = text.indexOf("// END TRANSLATIONS\n");
if (begin < 0 || end < begin) throw new Error(`${target} has no BEGIN/END TRANSLATIONS lines`);
const made = text.slice(0, begin) + "// BEGIN TRANSLATIONS\n" + table + text.slice(end);
if (check) {
  if (made !== text) {
    console.error("web/tarvona.js's translations differ from po/: run scripts/update-translations.sh");
    process.exit(1);
  }
} else if (made !== text) {
  fs.writeFileSync(target, made);
}
