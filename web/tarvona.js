// Page API of the Tarvona control.
//
//   import { TarvonaActiveX } from "./tarvona.js";
//   const ctrl = await TarvonaActiveX.create("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
//   const session = await ctrl.ConnectToken();
//   await ctrl.Login(session, pin);
//   const signature = await ctrl.SignByCertSerial(session, serial, 0, TarvonaActiveX.toHex(text));
//   await ctrl.release();
//
// Every method of the control is called by its own name with its own
// parameters and gives a Promise of its result. The control reports
// outcomes in its results (result codes, empty strings); a call the control
// cannot take at all (unknown method, wrong argument type or count) rejects
// with an Error whose `name` is the automation error, e.g.
// "DISP_E_TYPEMISMATCH". The browser extension carries the calls to the
// native host.
//
// TarvonaActiveX.describe(code) gives a short sentence for a result code, an
// automation error's name or a rejected call's Error, saying how to fix what
// the user can fix: in English, German, French, Spanish or Estonian, as the
// browser's language or the `language` option asks.

const TO_EXTENSION = "tarvona:request";
const TO_PAGE = "tarvona:response";

const pending = new Map();
let nextId = 1;

// A rejected call's Error: `name` is the automation error; `reason` tells
// the failures around the control apart ("extension-missing",
// "host-missing", "host-ended").
function hostError(error, reason) {
  const e = new Error(error && error.message ? error.message : "the Tarvona host failed");
  e.name = error && error.name ? error.name : "E_FAIL";
  const why = (error && error.reason) || reason;
  if (why) e.reason = why;
  return e;
}

// Status callbacks of the "create" calls still waiting for their answer.
const creating = new Set();

window.addEventListener("message", (event) => {
  if (event.source !== window || !event.data || event.data.type !== TO_PAGE) return;
  if (event.data.disconnected) {
    for (const { reject } of pending.values()) reject(hostError({ message: "the host ended" }, "host-ended"));
    pending.clear();
    return;
  }
  const reply = event.data.message;
  if (!reply || typeof reply !== "object") return;
  if (reply.id === null || reply.id === undefined) {
    if (reply.ended) {
      for (const { reject } of pending.values()) reject(hostError(reply.error, "host-ended"));
      pending.clear();
    } else if (typeof reply.status === "string") {
      // The host's word on a "create" still in hand, e.g. that it is
      // asking the user whether this page may use the control.
      for (const onStatus of creating) onStatus(reply.status);
    }
    return;
  }
  const waiter = pending.get(reply.id);
  if (!waiter) return;
  pending.delete(reply.id);
  if (reply.error) waiter.reject(hostError(reply.error));
  else waiter.resolve(reply);
});

function extensionPresent() {
  return document.documentElement.dataset.tarvonaExtension === "1";
}

function send(request) {
  if (!extensionPresent()) {
    return Promise.reject(hostError({ name: "E_FAIL", message: "the Tarvona extension is not installed" }, "extension-missing"));
  }
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    window.postMessage({ type: TO_EXTENSION, message: Object.assign({ id }, request) }, window.location.origin);
  });
}

// Names that must not turn into calls: `then` would make the control look
// like a promise to `await`.
const NOT_METHODS = new Set(["then", "catch", "finally", "toJSON", "constructor"]);

function controlFor(object) {
  let released = false;
  const target = {
    object,
    async release() {
      if (released) return;
      released = true;
      await send({ release: object });
    },
  };
  return new Proxy(target, {
    get(t, name) {
      if (typeof name !== "string" || name in t || NOT_METHODS.has(name)) return t[name];
      return async (...params) => {
        if (released) throw hostError({ name: "E_HANDLE", message: "the control was released" });
        const reply = await send({ object, method: name, params });
        return reply.result;
      };
    },
  });
}

function bytesOf(data) {
  if (typeof data === "string") return new TextEncoder().encode(data);
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  throw new TypeError("text, Uint8Array or ArrayBuffer expected");
}

// DER prefixes of the PKCS #1 DigestInfo for each hash, before the hash.
const DIGEST_INFO_PREFIX = {
  "SHA-256": "3031300D060960864801650304020105000420",
  "SHA-384": "3041300D060960864801650304020205000430",
  "SHA-512": "3051300D060960864801650304020305000440",
};

// Marks a sentence that describe gives in the user's language: the English
// text is the key of its translations (po/, scripts/update-translations.sh).
const N_ = (english) => english;

// One sentence for every result code of the control.
const RESULTS = {
  0: N_("Success."),
  1001: N_("The token module could not be loaded."),
  1002: N_("No token session is open."),
  1003: N_("No token is connected."),
  1004: N_("An argument is not valid."),
  1005: N_("Hashing failed, or the hash type is not supported."),
  1006: N_("The token could not sign."),
  1007: N_("The signature does not verify."),
  1008: N_("Encryption failed."),
  1009: N_("Decryption failed."),
  1010: N_("The token was initialised, but its user PIN could not be set."),
  1011: N_("No matching certificate or key was found."),
  1301: N_("No certificate was chosen, or the certificate store cannot be opened."),
  1302: N_("The data is not an X.509 certificate."),
  1303: N_("The certificate's key cannot be used."),
  1304: N_("The certificate file cannot be read."),
  1305: N_("The cryptographic provider is not available."),
  4001: N_("Wrong PIN."),
  4002: N_("Another user is already logged in."),
  4003: N_("Login failed."),
  4004: N_("Logout failed."),
  4005: N_("Nobody is logged in."),
  4006: N_("The PIN is locked."),
  4007: N_("The PIN could not be changed."),
  4008: N_("The user PIN could not be set."),
  5001: N_("Nothing is connected."),
};

const INSTALL = "sudo apt install ./tarvona_<version>_amd64.deb";

// Failures around the control, and the automation errors calls reject with.
// "%s" is the install command.
const FAILURES = {
  "extension-missing": N_(
    "The Tarvona browser extension is not installed or not enabled for this site. " +
      "Install the tarvona package (%s), which adds it to Chromium, or add it to your browser; then reload the page.",
  ),
  "host-missing": N_("The Tarvona host is not installed. Install the tarvona package (%s), then reload the page."),
  "host-ended": N_("The Tarvona host ended. Reload the page to start it again."),
  E_ACCESSDENIED: N_(
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, " +
      "or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.",
  ),
  REGDB_E_CLASSNOTREG: N_("The Tarvona control is not registered. Install the tarvona package (%s), then reload the page."),
  CO_E_DLLNOTFOUND: N_(
    "The Tarvona control's module file is missing. Install the tarvona package again (%s), then reload the page.",
  ),
  CO_E_ERRORINDLL: N_("The Tarvona control's module file cannot be loaded."),
  CLASS_E_CLASSNOTAVAILABLE: N_("The Tarvona control cannot be created."),
  DISP_E_UNKNOWNNAME: N_("The control has no method of that name."),
  DISP_E_MEMBERNOTFOUND: N_("The control has no method with that number."),
  DISP_E_BADPARAMCOUNT: N_("The method was called with the wrong number of parameters."),
  DISP_E_TYPEMISMATCH: N_("A parameter has the wrong type."),
  DISP_E_OVERFLOW: N_("A number is too large for its parameter."),
  E_INVALIDARG: N_("The request is not valid."),
  E_HANDLE: N_("The control was released."),
  E_OUTOFMEMORY: N_("The Tarvona host ran out of memory."),
  E_FAIL: N_("The Tarvona host failed."),
};

// The host's status words on a pending "create".
const STATUSES = {
  "waiting-for-permission": N_(
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.",
  ),
  // A page that calls Login (or a PIN change) with an empty PIN: on a card
  // reader with its own keypad, the reader now asks for the PIN.
  "pin-on-reader": N_(
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.",
  ),
};

// The sentences above in the other languages, keyed by the English text.
// Made from po/*.po by scripts/update-translations.sh: not edited by hand.
// BEGIN TRANSLATIONS
const TRANSLATIONS = {
  de: {
    "Success.":
      "Erfolgreich.",
    "The token module could not be loaded.":
      "Das Token-Modul konnte nicht geladen werden.",
    "No token session is open.":
      "Es ist keine Token-Sitzung geöffnet.",
    "No token is connected.":
      "Es ist kein Token angeschlossen.",
    "An argument is not valid.":
      "Ein Argument ist ungültig.",
    "Hashing failed, or the hash type is not supported.":
      "Das Hashen ist fehlgeschlagen, oder der Hash-Typ wird nicht unterstützt.",
    "The token could not sign.":
      "Das Token konnte nicht signieren.",
    "The signature does not verify.":
      "Die Signatur ist nicht gültig.",
    "Encryption failed.":
      "Die Verschlüsselung ist fehlgeschlagen.",
    "Decryption failed.":
      "Die Entschlüsselung ist fehlgeschlagen.",
    "The token was initialised, but its user PIN could not be set.":
      "Das Token wurde initialisiert, aber seine Benutzer-PIN konnte nicht gesetzt werden.",
    "No matching certificate or key was found.":
      "Es wurde kein passendes Zertifikat und kein passender Schlüssel gefunden.",
    "No certificate was chosen, or the certificate store cannot be opened.":
      "Es wurde kein Zertifikat gewählt, oder der Zertifikatspeicher lässt sich nicht öffnen.",
    "The data is not an X.509 certificate.":
      "Die Daten sind kein X.509-Zertifikat.",
    "The certificate's key cannot be used.":
      "Der Schlüssel des Zertifikats kann nicht verwendet werden.",
    "The certificate file cannot be read.":
      "Die Zertifikatsdatei kann nicht gelesen werden.",
    "The cryptographic provider is not available.":
      "Der kryptografische Anbieter ist nicht verfügbar.",
    "Wrong PIN.":
      "Falsche PIN.",
    "Another user is already logged in.":
      "Ein anderer Benutzer ist bereits angemeldet.",
    "Login failed.":
      "Die Anmeldung ist fehlgeschlagen.",
    "Logout failed.":
      "Die Abmeldung ist fehlgeschlagen.",
    "Nobody is logged in.":
      "Niemand ist angemeldet.",
    "The PIN is locked.":
      "Die PIN ist gesperrt.",
    "The PIN could not be changed.":
      "Die PIN konnte nicht geändert werden.",
    "The user PIN could not be set.":
      "Die Benutzer-PIN konnte nicht gesetzt werden.",
    "Nothing is connected.":
      "Es ist nichts verbunden.",
    "The Tarvona browser extension is not installed or not enabled for this site. Install the tarvona package (%s), which adds it to Chromium, or add it to your browser; then reload the page.":
      "Die Tarvona-Browsererweiterung ist nicht installiert oder für diese Website nicht aktiviert. Installieren Sie das Paket tarvona (%s), das sie zu Chromium hinzufügt, oder fügen Sie sie Ihrem Browser hinzu; laden Sie dann die Seite neu.",
    "The Tarvona host is not installed. Install the tarvona package (%s), then reload the page.":
      "Der Tarvona-Host ist nicht installiert. Installieren Sie das Paket tarvona (%s) und laden Sie dann die Seite neu.",
    "The Tarvona host ended. Reload the page to start it again.":
      "Der Tarvona-Host wurde beendet. Laden Sie die Seite neu, um ihn wieder zu starten.",
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.":
      "Diese Website darf Ihre Sicherheitstoken und Zertifikate nicht verwenden. Laden Sie die Seite neu und erlauben Sie den Zugriff im Tarvona-Dialog, oder tragen Sie den Ursprung der Website (etwa https://bank.example) als Zeile in ~/.config/tarvona/allowed-origins ein.",
    "The Tarvona control is not registered. Install the tarvona package (%s), then reload the page.":
      "Das Tarvona-Steuerelement ist nicht registriert. Installieren Sie das Paket tarvona (%s) und laden Sie dann die Seite neu.",
    "The Tarvona control's module file is missing. Install the tarvona package again (%s), then reload the page.":
      "Die Moduldatei des Tarvona-Steuerelements fehlt. Installieren Sie das Paket tarvona erneut (%s) und laden Sie dann die Seite neu.",
    "The Tarvona control's module file cannot be loaded.":
      "Die Moduldatei des Tarvona-Steuerelements kann nicht geladen werden.",
    "The Tarvona control cannot be created.":
      "Das Tarvona-Steuerelement kann nicht erstellt werden.",
    "The control has no method of that name.":
      "Das Steuerelement hat keine Methode dieses Namens.",
    "The control has no method with that number.":
      "Das Steuerelement hat keine Methode mit dieser Nummer.",
    "The method was called with the wrong number of parameters.":
      "Die Methode wurde mit der falschen Anzahl von Parametern aufgerufen.",
    "A parameter has the wrong type.":
      "Ein Parameter hat den falschen Typ.",
    "A number is too large for its parameter.":
      "Eine Zahl ist zu groß für ihren Parameter.",
    "The request is not valid.":
      "Die Anfrage ist ungültig.",
    "The control was released.":
      "Das Steuerelement wurde freigegeben.",
    "The Tarvona host ran out of memory.":
      "Dem Tarvona-Host ist der Speicher ausgegangen.",
    "The Tarvona host failed.":
      "Der Tarvona-Host ist fehlgeschlagen.",
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.":
      "Warten auf Ihre Erlaubnis: Beantworten Sie den Tarvona-Dialog, der fragt, ob diese Website Ihre Sicherheitstoken und Zertifikate verwenden darf.",
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.":
      "Geben Sie Ihre PIN am Tastenfeld Ihres Kartenlesers ein und bestätigen Sie sie dort; bei einem Leser ohne Tastenfeld muss die PIN in die Seite eingegeben werden.",
    "Unknown result %s.":
      "Unbekanntes Ergebnis %s.",
  },
  es: {
    "Success.":
      "Operación correcta.",
    "The token module could not be loaded.":
      "No se pudo cargar el módulo del token.",
    "No token session is open.":
      "No hay ninguna sesión de token abierta.",
    "No token is connected.":
      "No hay ningún token conectado.",
    "An argument is not valid.":
      "Un argumento no es válido.",
    "Hashing failed, or the hash type is not supported.":
      "El hash ha fallado o el tipo de hash no es compatible.",
    "The token could not sign.":
      "El token no pudo firmar.",
    "The signature does not verify.":
      "La firma no es válida.",
    "Encryption failed.":
      "El cifrado ha fallado.",
    "Decryption failed.":
      "El descifrado ha fallado.",
    "The token was initialised, but its user PIN could not be set.":
      "El token se inicializó, pero no se pudo establecer su PIN de usuario.",
    "No matching certificate or key was found.":
      "No se encontró ningún certificado ni ninguna clave que coincidan.",
    "No certificate was chosen, or the certificate store cannot be opened.":
      "No se eligió ningún certificado o no se puede abrir el almacén de certificados.",
    "The data is not an X.509 certificate.":
      "Los datos no son un certificado X.509.",
    "The certificate's key cannot be used.":
      "No se puede usar la clave del certificado.",
    "The certificate file cannot be read.":
      "No se puede leer el archivo del certificado.",
    "The cryptographic provider is not available.":
      "El proveedor criptográfico no está disponible.",
    "Wrong PIN.":
      "PIN incorrecto.",
    "Another user is already logged in.":
      "Ya hay otro usuario con la sesión iniciada.",
    "Login failed.":
      "El inicio de sesión ha fallado.",
    "Logout failed.":
      "El cierre de sesión ha fallado.",
    "Nobody is logged in.":
      "No hay nadie con la sesión iniciada.",
    "The PIN is locked.":
      "El PIN está bloqueado.",
    "The PIN could not be changed.":
      "No se pudo cambiar el PIN.",
    "The user PIN could not be set.":
      "No se pudo establecer el PIN de usuario.",
    "Nothing is connected.":
      "No hay nada conectado.",
    "The Tarvona browser extension is not installed or not enabled for this site. Install the tarvona package (%s), which adds it to Chromium, or add it to your browser; then reload the page.":
      "La extensión de navegador de Tarvona no está instalada o no está activada para este sitio. Instale el paquete tarvona (%s), que la añade a Chromium, o añádala a su navegador; después, vuelva a cargar la página.",
    "The Tarvona host is not installed. Install the tarvona package (%s), then reload the page.":
      "El host de Tarvona no está instalado. Instale el paquete tarvona (%s) y vuelva a cargar la página.",
    "The Tarvona host ended. Reload the page to start it again.":
      "El host de Tarvona ha terminado. Vuelva a cargar la página para iniciarlo de nuevo.",
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.":
      "Este sitio no puede usar sus tokens de seguridad y certificados. Vuelva a cargar la página y permítalo en el diálogo de Tarvona, o añada el origen del sitio (como https://bank.example) como una línea de ~/.config/tarvona/allowed-origins.",
    "The Tarvona control is not registered. Install the tarvona package (%s), then reload the page.":
      "El control de Tarvona no está registrado. Instale el paquete tarvona (%s) y vuelva a cargar la página.",
    "The Tarvona control's module file is missing. Install the tarvona package again (%s), then reload the page.":
      "Falta el archivo de módulo del control de Tarvona. Vuelva a instalar el paquete tarvona (%s) y vuelva a cargar la página.",
    "The Tarvona control's module file cannot be loaded.":
      "No se puede cargar el archivo de módulo del control de Tarvona.",
    "The Tarvona control cannot be created.":
      "No se puede crear el control de Tarvona.",
    "The control has no method of that name.":
      "El control no tiene ningún método con ese nombre.",
    "The control has no method with that number.":
      "El control no tiene ningún método con ese número.",
    "The method was called with the wrong number of parameters.":
      "Se llamó al método con un número incorrecto de parámetros.",
    "A parameter has the wrong type.":
      "Un parámetro tiene un tipo incorrecto.",
    "A number is too large for its parameter.":
      "Un número es demasiado grande para su parámetro.",
    "The request is not valid.":
      "La solicitud no es válida.",
    "The control was released.":
      "El control se ha liberado.",
    "The Tarvona host ran out of memory.":
      "El host de Tarvona se ha quedado sin memoria.",
    "The Tarvona host failed.":
      "El host de Tarvona ha fallado.",
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.":
      "Esperando su permiso: responda al diálogo de Tarvona que pregunta si este sitio puede usar sus tokens de seguridad y certificados.",
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.":
      "Escriba su PIN en el teclado de su lector de tarjetas y confírmelo allí; con un lector sin teclado hay que escribir el PIN en la página.",
    "Unknown result %s.":
      "Resultado desconocido %s.",
  },
  et: {
    "Success.":
      "Õnnestus.",
    "The token module could not be loaded.":
      "Turvaseadme moodulit ei saanud laadida.",
    "No token session is open.":
      "Turvaseadme seanss pole avatud.",
    "No token is connected.":
      "Ühtegi turvaseadet pole ühendatud.",
    "An argument is not valid.":
      "Üks argument on vigane.",
    "Hashing failed, or the hash type is not supported.":
      "Räsimine ebaõnnestus või seda räsitüüpi ei toetata.",
    "The token could not sign.":
      "Turvaseade ei saanud allkirjastada.",
    "The signature does not verify.":
      "Allkiri ei ole kehtiv.",
    "Encryption failed.":
      "Krüpteerimine ebaõnnestus.",
    "Decryption failed.":
      "Dekrüpteerimine ebaõnnestus.",
    "The token was initialised, but its user PIN could not be set.":
      "Turvaseade lähtestati, kuid selle kasutaja PIN-koodi ei saanud määrata.",
    "No matching certificate or key was found.":
      "Sobivat sertifikaati ega võtit ei leitud.",
    "No certificate was chosen, or the certificate store cannot be opened.":
      "Sertifikaati ei valitud või sertifikaadihoidlat ei saa avada.",
    "The data is not an X.509 certificate.":
      "Andmed ei ole X.509 sertifikaat.",
    "The certificate's key cannot be used.":
      "Sertifikaadi võtit ei saa kasutada.",
    "The certificate file cannot be read.":
      "Sertifikaadifaili ei saa lugeda.",
    "The cryptographic provider is not available.":
      "Krüptoteenuse pakkuja pole saadaval.",
    "Wrong PIN.":
      "Vale PIN-kood.",
    "Another user is already logged in.":
      "Teine kasutaja on juba sisse logitud.",
    "Login failed.":
      "Sisselogimine ebaõnnestus.",
    "Logout failed.":
      "Väljalogimine ebaõnnestus.",
    "Nobody is logged in.":
      "Keegi pole sisse logitud.",
    "The PIN is locked.":
      "PIN-kood on lukus.",
    "The PIN could not be changed.":
      "PIN-koodi ei saanud muuta.",
    "The user PIN could not be set.":
      "Kasutaja PIN-koodi ei saanud määrata.",
    "Nothing is connected.":
      "Midagi pole ühendatud.",
    "The Tarvona browser extension is not installed or not enabled for this site. Install the tarvona package (%s), which adds it to Chromium, or add it to your browser; then reload the page.":
      "Tarvona brauserilaiendus pole paigaldatud või pole sellel saidil lubatud. Paigaldage pakett tarvona (%s), mis lisab selle Chromiumile, või lisage see oma brauserile; seejärel laadige leht uuesti.",
    "The Tarvona host is not installed. Install the tarvona package (%s), then reload the page.":
      "Tarvona host pole paigaldatud. Paigaldage pakett tarvona (%s) ja laadige seejärel leht uuesti.",
    "The Tarvona host ended. Reload the page to start it again.":
      "Tarvona host lõpetas töö. Laadige leht uuesti, et see taas käivitada.",
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.":
      "See sait ei tohi kasutada teie turvaseadmeid ja sertifikaate. Laadige leht uuesti ja lubage see Tarvona dialoogis või lisage saidi päritolu (näiteks https://bank.example) reana faili ~/.config/tarvona/allowed-origins.",
    "The Tarvona control is not registered. Install the tarvona package (%s), then reload the page.":
      "Tarvona juhtelement pole registreeritud. Paigaldage pakett tarvona (%s) ja laadige seejärel leht uuesti.",
    "The Tarvona control's module file is missing. Install the tarvona package again (%s), then reload the page.":
      "Tarvona juhtelemendi moodulifail puudub. Paigaldage pakett tarvona uuesti (%s) ja laadige seejärel leht uuesti.",
    "The Tarvona control's module file cannot be loaded.":
      "Tarvona juhtelemendi moodulifaili ei saa laadida.",
    "The Tarvona control cannot be created.":
      "Tarvona juhtelementi ei saa luua.",
    "The control has no method of that name.":
      "Juhtelemendil pole sellenimelist meetodit.",
    "The control has no method with that number.":
      "Juhtelemendil pole selle numbriga meetodit.",
    "The method was called with the wrong number of parameters.":
      "Meetodit kutsuti vale arvu parameetritega.",
    "A parameter has the wrong type.":
      "Ühe parameetri tüüp on vale.",
    "A number is too large for its parameter.":
      "Arv on oma parameetri jaoks liiga suur.",
    "The request is not valid.":
      "Päring on vigane.",
    "The control was released.":
      "Juhtelement on vabastatud.",
    "The Tarvona host ran out of memory.":
      "Tarvona hostil sai mälu otsa.",
    "The Tarvona host failed.":
      "Tarvona host ebaõnnestus.",
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.":
      "Ootan teie luba: vastake Tarvona dialoogile, mis küsib, kas see sait võib kasutada teie turvaseadmeid ja sertifikaate.",
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.":
      "Sisestage PIN-kood kaardilugeja klaviatuuril ja kinnitage see seal; ilma klaviatuurita lugeja puhul tuleb PIN-kood sisestada lehel.",
    "Unknown result %s.":
      "Tundmatu tulemus %s.",
  },
  fr: {
    "Success.":
      "Opération réussie.",
    "The token module could not be loaded.":
      "Le module du jeton n’a pas pu être chargé.",
    "No token session is open.":
      "Aucune session de jeton n’est ouverte.",
    "No token is connected.":
      "Aucun jeton n’est connecté.",
    "An argument is not valid.":
      "Un argument n’est pas valide.",
    "Hashing failed, or the hash type is not supported.":
      "Le hachage a échoué, ou le type de hachage n’est pas pris en charge.",
    "The token could not sign.":
      "Le jeton n’a pas pu signer.",
    "The signature does not verify.":
      "La signature n’est pas valide.",
    "Encryption failed.":
      "Le chiffrement a échoué.",
    "Decryption failed.":
      "Le déchiffrement a échoué.",
    "The token was initialised, but its user PIN could not be set.":
      "Le jeton a été initialisé, mais son code PIN utilisateur n’a pas pu être défini.",
    "No matching certificate or key was found.":
      "Aucun certificat ni aucune clé correspondants n’ont été trouvés.",
    "No certificate was chosen, or the certificate store cannot be opened.":
      "Aucun certificat n’a été choisi, ou le magasin de certificats ne peut pas être ouvert.",
    "The data is not an X.509 certificate.":
      "Les données ne sont pas un certificat X.509.",
    "The certificate's key cannot be used.":
      "La clé du certificat ne peut pas être utilisée.",
    "The certificate file cannot be read.":
      "Le fichier du certificat ne peut pas être lu.",
    "The cryptographic provider is not available.":
      "Le fournisseur de chiffrement n’est pas disponible.",
    "Wrong PIN.":
      "Code PIN incorrect.",
    "Another user is already logged in.":
      "Un autre utilisateur est déjà connecté.",
    "Login failed.":
      "La connexion a échoué.",
    "Logout failed.":
      "La déconnexion a échoué.",
    "Nobody is logged in.":
      "Personne n’est connecté.",
    "The PIN is locked.":
      "Le code PIN est bloqué.",
    "The PIN could not be changed.":
      "Le code PIN n’a pas pu être modifié.",
    "The user PIN could not be set.":
      "Le code PIN utilisateur n’a pas pu être défini.",
    "Nothing is connected.":
      "Rien n’est connecté.",
    "The Tarvona browser extension is not installed or not enabled for this site. Install the tarvona package (%s), which adds it to Chromium, or add it to your browser; then reload the page.":
      "L’extension de navigateur Tarvona n’est pas installée ou n’est pas activée pour ce site. Installez le paquet tarvona (%s), qui l’ajoute à Chromium, ou ajoutez-la à votre navigateur ; puis rechargez la page.",
    "The Tarvona host is not installed. Install the tarvona package (%s), then reload the page.":
      "L’hôte Tarvona n’est pas installé. Installez le paquet tarvona (%s), puis rechargez la page.",
    "The Tarvona host ended. Reload the page to start it again.":
      "L’hôte Tarvona s’est arrêté. Rechargez la page pour le relancer.",
    "This site may not use your security tokens and certificates. Reload the page and choose Allow in the Tarvona dialog, or add the site's origin (such as https://bank.example) as a line of ~/.config/tarvona/allowed-origins.":
      "Ce site n’est pas autorisé à utiliser vos jetons de sécurité et vos certificats. Rechargez la page et autorisez-le dans la boîte de dialogue Tarvona, ou ajoutez l’origine du site (par exemple https://bank.example) comme ligne de ~/.config/tarvona/allowed-origins.",
    "The Tarvona control is not registered. Install the tarvona package (%s), then reload the page.":
      "Le contrôle Tarvona n’est pas enregistré. Installez le paquet tarvona (%s), puis rechargez la page.",
    "The Tarvona control's module file is missing. Install the tarvona package again (%s), then reload the page.":
      "Le fichier de module du contrôle Tarvona est manquant. Réinstallez le paquet tarvona (%s), puis rechargez la page.",
    "The Tarvona control's module file cannot be loaded.":
      "Le fichier de module du contrôle Tarvona ne peut pas être chargé.",
    "The Tarvona control cannot be created.":
      "Le contrôle Tarvona ne peut pas être créé.",
    "The control has no method of that name.":
      "Le contrôle n’a aucune méthode de ce nom.",
    "The control has no method with that number.":
      "Le contrôle n’a aucune méthode portant ce numéro.",
    "The method was called with the wrong number of parameters.":
      "La méthode a été appelée avec un mauvais nombre de paramètres.",
    "A parameter has the wrong type.":
      "Un paramètre n’a pas le bon type.",
    "A number is too large for its parameter.":
      "Un nombre est trop grand pour son paramètre.",
    "The request is not valid.":
      "La requête n’est pas valide.",
    "The control was released.":
      "Le contrôle a été libéré.",
    "The Tarvona host ran out of memory.":
      "L’hôte Tarvona manque de mémoire.",
    "The Tarvona host failed.":
      "L’hôte Tarvona a échoué.",
    "Waiting for your permission: answer the Tarvona dialog asking whether this site may use your security tokens and certificates.":
      "En attente de votre autorisation : répondez à la boîte de dialogue Tarvona qui demande si ce site peut utiliser vos jetons de sécurité et vos certificats.",
    "Type your PIN on your card reader's keypad and confirm it there; a reader without a keypad needs the PIN typed in the page.":
      "Saisissez votre code PIN sur le clavier de votre lecteur de cartes et validez-le sur le lecteur ; un lecteur sans clavier demande de saisir le code PIN dans la page.",
    "Unknown result %s.":
      "Résultat inconnu %s.",
  },
};
// END TRANSLATIONS

// The language describe speaks for a BCP 47 tag ("de-AT" gives "de"):
// English unless it has the translations.
function languageOf(tag) {
  const primary = String(tag || "").toLowerCase().split(/[-_]/)[0];
  return Object.hasOwn(TRANSLATIONS, primary) ? primary : "en";
}

// `english` in `language`, with "%s" filled in.
function say(language, english, value) {
  const text = (language !== "en" && TRANSLATIONS[language][english]) || english;
  return text.replace("%s", () => value);
}

export const TarvonaActiveX = {
  // Creates a control. `onStatus(status)` hears what holds the answer up,
  // e.g. "waiting-for-permission" while the host asks the user whether this
  // page may use the control (TarvonaActiveX.describe gives its sentence).
  async create(progId, { onStatus } = {}) {
    if (onStatus) creating.add(onStatus);
    try {
      const reply = await send({ create: progId });
      return controlFor(reply.object);
    } finally {
      if (onStatus) creating.delete(onStatus);
    }
  },

  // A short sentence for a result code (4001 -> "Wrong PIN."), an
  // automation error's name, a host status ("pin-on-reader" while a Login
  // with an empty PIN waits for the reader's keypad), or an Error a call
  // rejected with. It speaks `language` (a tag such as "de" or "fr-CA"),
  // by default the browser's (navigator.language): German, French, Spanish
  // or Estonian, and English for any other.
  describe(what, options) {
    const asked = options && options.language;
    const speak = languageOf(asked || (typeof navigator !== "undefined" && navigator.language));
    const known = (table, key) => Object.hasOwn(table, key) && say(speak, table[key], INSTALL);
    if (what instanceof Error) {
      return known(FAILURES, what.reason) || known(FAILURES, what.name) || `${what.name}: ${what.message}`;
    }
    const key = typeof what === "number" ? what : String(what);
    return (
      (typeof what === "number" ? known(RESULTS, key) : known(FAILURES, key) || known(STATUSES, key)) ||
      say(speak, N_("Unknown result %s."), key)
    );
  },

  // Upper-case hex text of text (as UTF-8) or bytes, the form every byte
  // string takes to the control.
  toHex(data) {
    return Array.from(bytesOf(data), (b) => b.toString(16).padStart(2, "0")).join("").toUpperCase();
  },

  fromHex(hex) {
    const bytes = new Uint8Array(Math.floor(hex.length / 2));
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    return bytes;
  },

  // The hex of a PKCS #1 DigestInfo over `data` for SHA-256, SHA-384 or
  // SHA-512. Signed with a hash type other than 0, 1 or 2 (raw RSA), it
  // gives an ordinary RSA signature with that hash.
  async digestInfo(hashName, data) {
    const prefix = DIGEST_INFO_PREFIX[hashName];
    if (!prefix) throw new RangeError("SHA-256, SHA-384 or SHA-512 expected");
    const digest = await crypto.subtle.digest(hashName, bytesOf(data));
    return prefix + TarvonaActiveX.toHex(new Uint8Array(digest));
  },
};

export default TarvonaActiveX;
