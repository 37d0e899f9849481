// Just enough DER reading to show a certificate: its serial number, subject
// and issuer, from the PEM text the control returns.

function readElement(bytes, offset) {
  const tag = bytes[offset];
  let length = bytes[offset + 1];
  let header = 2;
  if (length & 0x80) {
    const count = length & 0x7f;
    length = 0;
    for (let i = 0; i < count; i++) length = length * 256 + bytes[offset + 2 + i];
    header += count;
  }
  const start = offset + header;
  if (start + length > bytes.length) throw new Error("truncated DER");
  return { tag, start, end: start + length, next: start + length };
}

function children(bytes, element) {
  const list = [];
  for (let at = element.start; at < element.end; ) {
    const child = readElement(bytes, at);
    list.push(child);
    at = child.next;
  }
  return list;
}

function oidText(bytes, element) {
  const parts = [Math.floor(bytes[element.start] / 40), bytes[element.start] % 40];
  let value = 0;
  for (let i = element.start + 1; i < element.end; i++) {
    value = value * 128 + (bytes[i] & 0x7f);
    if (!(bytes[i] & 0x80)) {
      parts.push(value);
      value = 0;
    }
  }
  return parts.join(".");
}

const NAMES = { "2.5.4.3": "CN", "2.5.4.10": "O", "2.5.4.11": "OU", "2.5.4.6": "C", "2.5.4.7": "L" };

function nameText(bytes, name) {
  const parts = [];
  for (const rdn of children(bytes, name)) {
    for (const pair of children(bytes, rdn)) {
      const [type, value] = children(bytes, pair);
      const key = NAMES[oidText(bytes, type)] || oidText(bytes, type);
      parts.push(key + "=" + new TextDecoder().decode(bytes.subarray(value.start, value.end)));
    }
  }
  return parts.join(", ");
}

export function pemToDer(pem) {
  const body = pem.replace(/-----[^-]+-----/g, "").replace(/[^A-Za-z0-9+/=]/g, "");
  return Uint8Array.from(atob(body), (c) => c.charCodeAt(0));
}

export function describeCertificate(der) {
  const certificate = readElement(der, 0);
  const tbs = children(der, certificate)[0];
  let fields = children(der, tbs);
  if (fields[0].tag === 0xa0) fields = fields.slice(1);  // explicit version
  const [serial, , issuer, , subject] = fields;
  const serialHex = Array.from(der.subarray(serial.start, serial.end),
                               (b) => b.toString(16).padStart(2, "0")).join("").toUpperCase();
  return { serial: serialHex, subject: nameText(der, subject), issuer: nameText(der, issuer) };
}
