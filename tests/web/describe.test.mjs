// TarvonaActiveX.describe in each of its languages, for every result
// code, automation error and host status it knows, outside a browser: the
// page API needs only a `window` to listen on, and `navigator` is set as a
// browser sets it.
import assert from "node:assert/strict";
import { test } from "node:test";

globalThis.window ??= { addEventListener() {} };
const { TarvonaActiveX } = await import("../../web/tarvona.js");

const CODES = [0, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011,
  1301, 1302, 1303, 1304, 1305, 4001, 4002, 4003, 4004, 4005, 4006, 4007, 4008, 5001];
const NAMES = ["extension-missing", "host-missing", "host-ended", "E_ACCESSDENIED", "REGDB_E_CLASSNOTREG",
  "CO_E_DLLNOTFOUND", "CO_E_ERRORINDLL", "CLASS_E_CLASSNOTAVAILABLE", "DISP_E_UNKNOWNNAME",
  "DISP_E_MEMBERNOTFOUND", "DISP_E_BADPARAMCOUNT", "DISP_E_TYPEMISMATCH", "DISP_E_OVERFLOW", "E_INVALIDARG",
  "E_HANDLE", "E_OUTOFMEMORY", "E_FAIL", "waiting-for-permission", "pin-on-reader"];
const INSTALL = "sudo apt install ./tarvona_<version>_amd64.deb";

// A few sentences in full, each language's; the rest must merely be its own.
const LANGUAGES = {
  en: { 4001: "Wrong PIN.", 1003: "No token is connected.", 4242: "Unknown result 4242." },
  de: { 4001: "Falsche PIN.", 1003: "Es ist kein Token angeschlossen.", 4242: "Unbekanntes Ergebnis 4242." },
  fr: { 4001: "Code PIN incorrect.", 1003: "Aucun jeton n’est connecté.", 4242: "Résultat inconnu 4242." },
  es: { 4001: "PIN incorrecto.", 1003: "No hay ningún token conectado.", 4242: "Resultado desconocido 4242." },
  et: { 4001: "Vale PIN-kood.", 1003: "Ühtegi turvaseadet pole ühendatud.", 4242: "Tundmatu tulemus 4242." },
};

function setBrowserLanguage(language) {
  Object.defineProperty(globalThis, "navigator", { value: language && { language }, configurable: true });
}

test("every code has a sentence of its own in every language", () => {
  const english = new Map([...CODES, ...NAMES].map((what) => [what, TarvonaActiveX.describe(what, { language: "en" })]));
  for (const [language, known] of Object.entries(LANGUAGES)) {
    const said = [...CODES, ...NAMES].map((what) => [what, TarvonaActiveX.describe(what, { language })]);
    for (const [what, sentence] of said) {
      assert.match(sentence, /\.$/, `${language} ${what}: ${sentence}`);
      assert.doesNotMatch(sentence, /%s|undefined|^Unknown|^Unbekannt|^Résultat inconnu|^Resultado desconocido|^Tundmatu/,
        `${language} ${what}: ${sentence}`);
      if (language !== "en") assert.notEqual(sentence, english.get(what), `${language} ${what} is not translated`);
      // The install command stays as it is, wherever a sentence gives it.
      assert.equal(sentence.includes(INSTALL), english.get(what).includes(INSTALL), `${language} ${what}`);
    }
    assert.equal(new Set(said.map(([, s]) => s)).size, said.length, `${language}: one sentence each`);
    for (const [code, sentence] of Object.entries(known)) {
      assert.equal(TarvonaActiveX.describe(Number(code), { language }), sentence);
    }
    // A rejected call's Error says what its reason or name says.
    const refused = Object.assign(new Error("x"), { name: "E_FAIL", reason: "host-missing" });
    assert.equal(TarvonaActiveX.describe(refused, { language }), TarvonaActiveX.describe("host-missing", { language }));
  }
});

test("the language comes from the option, else the browser, else English", () => {
  const cases = [
    // [option, browser's navigator.language, the language spoken]
    [undefined, "de-AT", "de"],
    [undefined, "fr-CA", "fr"],
    [undefined, "ET", "et"],
    [undefined, "pt-BR", "en"],
    [undefined, undefined, "en"],
    ["es-MX", "de-DE", "es"],
    ["es_ES", undefined, "es"],
    ["en", "fr-FR", "en"],
    ["xx", "de-DE", "en"],
    ["toString", undefined, "en"],
  ];
  assert.equal(TarvonaActiveX.describe("$&", { language: "de" }), "Unbekanntes Ergebnis $&.");
  assert.equal(TarvonaActiveX.describe(4001, null), "Wrong PIN.");
  for (const [option, browser, spoken] of cases) {
    setBrowserLanguage(browser);
    const expected = LANGUAGES[spoken][4001];
    const options = option === undefined ? undefined : { language: option };
    assert.equal(TarvonaActiveX.describe(4001, options), expected, `${option} ${browser}`);
    if (option === undefined) assert.equal(TarvonaActiveX.describe(4001), expected, `${browser}`);
  }
  setBrowserLanguage(undefined);
});
