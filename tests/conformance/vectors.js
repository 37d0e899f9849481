// The control's conformance vectors: calls by name and what each must give.
// One table for every build of the control: the Linux suite runs it through
// tarvona-host --lines (tests/conformance/conformance_test.cpp), the Windows
// suite from JScript under Wine (tests/windows/jscript/conformance.js).
//
// JScript evaluates this file as it is; C++ reads the object after "=" as
// JSON with comments. So: JSON with comments, nothing else.
//
// "fixture": what the runner puts in place before the groups run: SoftHSM2
// tokens (user PIN 1234, SO PIN 5678) with key pairs of the test PKI, and
// the user's certificate store (NSS on Linux, CryptoAPI's MY store under
// Wine), a certificate with or without its private key.
//
// "groups": each runs on a control of its own, its steps in order. A group
// leaves the token as it found it (PINs restored), except the last, which
// initialises it: a runner may run them all on one token, in order.
//
// A step: "call" (the method's name as script writes it) and "args". In
// args and expected values:
//   "$name"                 a value saved by an earlier step of the group
//                           ("save"), or one the runner provides:
//                           "pem:KEY", "der:KEY" (hex text), "file:KEY.der",
//                           "file:missing" (paths in the platform's form),
//                           "encrypted:KEY" / "encrypted-lsb:KEY" (OpenSSL's
//                           ciphertext of fixture.plaintext, most or least
//                           significant byte first); "badpadding-lsb:KEY" (a
//                           ciphertext of the key's size whose padding is
//                           bad, least significant byte first);
//   {"text": X}             X as decimal text (a string where a long goes);
//   {"concat": [X, ...]}    the parts joined as text.
// What the step must give:
//   "expect": V             exactly V, type included (a long is a number);
//   "error": NAME           the call fails with that automation error;
//   "is": "handle"          a number that is neither 0 nor a result code;
//   "is": "hex"             non-empty upper-case hex text;
//   "is": "pem"             certificate PEM text, CR LF line ends;
//   "length": N             text of N characters;
//   "same": X / "differs": X   equal / not equal to X;
//   "judge": {...}          judged by OpenSSL (on Linux, whatever ran the
//                           call): {"verifies": KEY, "digest": "sha1" |
//                           "md5" | "sha256", "data": HEX} (a raw DigestInfo
//                           signature is judged as its digest over "data"),
//                           {"decrypts": KEY, "data": HEX},
//                           {"certificate": KEY}; "order": "lsb" where the
//                           bytes come least significant first (store road).
//                           A judged step has an "id", unique in the table.
//   "save": NAME            keeps the result for later steps.
// "dialog": "accept" | "cancel" on a group: its calls bring up the store's
// selection dialog, which the runner answers (Return / Escape) or, where it
// cannot show one, lets fail as a cancel does.
var TARVONA_VECTORS =
{
  "fixture": {
    "tokens": [{"label": "alpha", "keys": [{"name": "rsa2048", "id": "01"}]}],
    "store": [{"name": "rsa2048b", "private_key": true},
              {"name": "rsa1024", "private_key": false}],
    "plaintext": "48656C6C6F"
  },
  "groups": [
    {
      "name": "connection",
      "road": "token",
      "steps": [
        {"call": "RetrieveSerial", "args": [0], "expect": "1002"},
        {"call": "DisconnectToken", "args": [12345], "expect": 1002},
        {"call": "Login", "args": [0, "1234"], "expect": 1002},
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        {"call": "ConnectToken", "args": [], "expect": "$session"},
        // Names are found whatever their case.
        {"call": "connecttoken", "args": [], "expect": "$session"},
        {"call": "RETRIEVESERIAL", "args": ["$session"], "length": 16, "save": "serial"},
        // One token, seen through both module generations: listed twice.
        {"call": "RetrieveAllTokenSerial", "args": ["$session"],
         "expect": {"concat": ["$serial", ",", "$serial"]}},
        {"call": "RetrieveAllTokenSerial", "args": [1], "expect": "1002"},
        {"call": "RetrieveSerial", "args": [1], "expect": "1002"},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 5001},
        {"call": "RetrieveSerial", "args": ["$session"], "expect": "1002"},
        {"call": "RetrieveAllTokenSerial", "args": ["$session"],
         "expect": {"concat": ["$serial", ",", "$serial"]}},
        {"call": "Login", "args": ["$session", "1234"], "expect": 1002},
        {"call": "Hash", "args": ["$session", 0, "616263"], "expect": ""},
        {"call": "VerifyCertCRL", "args": [0, 0, ""], "expect": 1},
        {"call": "VerifyCertCRL", "args": [99, 2, "not a certificate"], "expect": 1},
        {"call": "ConnectToken", "args": [], "expect": "$session"},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0}
      ]
    },
    {
      "name": "calling conventions",
      "road": "token",
      "steps": [
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        // Text where a long goes converts as Windows converts it.
        {"call": "Login", "args": [{"text": "$session"}, "1234"], "expect": 0},
        {"call": "EnumCertificate", "args": ["$session", "65536"], "expect": 1011},
        {"call": "EnumCertificate", "args": ["$session", "0"], "is": "handle"},
        {"call": "VerifyCertCRL", "args": ["65536", "2", "x"], "expect": 1},
        {"call": "EnumCertificate", "args": ["$session", "zero"], "error": "DISP_E_TYPEMISMATCH"},
        // Verify's hash type is a short: 70000 does not fit, "-1" does.
        {"call": "Verify", "args": ["$session", 1, 70000, "00", "00"], "error": "DISP_E_OVERFLOW"},
        {"call": "Verify", "args": ["$session", 1, -32769, "00", "00"], "error": "DISP_E_OVERFLOW"},
        {"call": "Verify", "args": ["$session", 987654, "-1", "00", "00"], "expect": 1007},
        {"call": "Verify", "args": ["$session", 987654, 32767, "00", "00"], "expect": 1007},
        {"call": "Login", "args": ["$session"], "error": "DISP_E_BADPARAMCOUNT"},
        {"call": "Login", "args": ["$session", "1234", "extra"], "error": "DISP_E_BADPARAMCOUNT"},
        {"call": "NoSuchMethod", "args": [], "error": "DISP_E_UNKNOWNNAME"},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0}
      ]
    },
    {
      "name": "PINs",
      "road": "token",
      "steps": [
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        // SoftHSM2 logs nobody out without complaint (CKR_OK, not CKR_USER_NOT_LOGGED_IN).
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "Login", "args": ["$session", "0000"], "expect": 4001},
        {"call": "Login", "args": ["$session", ""], "expect": 4001},
        {"call": "Login", "args": ["$session", "1234"], "expect": 0},
        {"call": "Login", "args": ["$session", "1234"], "expect": 0},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        // Text ends at its first NUL.
        {"call": "Login", "args": ["$session", "1234\u0000wrong"], "expect": 0},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "ChangeUserPin", "args": ["$session", "1234", "4321"], "expect": 0},
        {"call": "Login", "args": ["$session", "1234"], "expect": 4001},
        {"call": "Login", "args": ["$session", "4321"], "expect": 0},
        {"call": "EnumPrivateKey", "args": ["$session", 0], "is": "handle"},
        // A wrong current PIN: refused, and whoever was logged in is out.
        {"call": "ChangeUserPin", "args": ["$session", "9999", "1111"], "expect": 4001},
        {"call": "EnumPrivateKey", "args": ["$session", 0], "expect": 1011},
        {"call": "ChangeUserPin", "args": ["$session", "4321", "1234"], "expect": 0},
        {"call": "ChangeSOPin", "args": ["$session", "0000", "1111"], "expect": 4001},
        {"call": "ChangeSOPin", "args": ["$session", "5678", "8765"], "expect": 0},
        {"call": "ChangeSOPin", "args": ["$session", "8765", "5678"], "expect": 0},
        {"call": "UnblockUserPin", "args": ["$session", "0000", "2222"], "expect": 4001},
        {"call": "UnblockUserPin", "args": ["$session", "5678", "2222"], "expect": 0},
        {"call": "Login", "args": ["$session", "2222"], "expect": 0},
        {"call": "UnblockUserPin", "args": ["$session", "5678", "1234"], "expect": 0},
        {"call": "Login", "args": ["$session", "1234"], "expect": 0},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0}
      ]
    },
    {
      "name": "objects",
      "road": "token",
      "steps": [
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        // Private keys are private objects: seen once the user is in.
        {"call": "EnumPrivateKey", "args": ["$session", 0], "expect": 1011},
        {"call": "Login", "args": ["$session", "1234"], "expect": 0},
        {"call": "EnumCertificate", "args": ["$session", 0], "is": "handle", "save": "cert"},
        {"call": "EnumCertificate", "args": ["$session", 1], "expect": 1011},
        {"call": "EnumPublicKey", "args": ["$session", 0], "is": "handle", "save": "public"},
        {"call": "EnumPublicKey", "args": ["$session", 5], "expect": 1011},
        {"call": "EnumPrivateKey", "args": ["$session", 0], "is": "handle", "save": "private"},
        {"call": "EnumPrivateKey", "args": ["$session", 1], "expect": 1011},
        {"call": "EnumPrivateKey", "args": ["$session", -1], "expect": 1011},
        {"call": "EnumCertificate", "args": ["$session", 0], "expect": "$cert"},
        {"call": "EnumPublicKey", "args": ["$session", 0], "differs": "$cert"},
        {"id": "token certificate", "call": "GetAttribute", "args": ["$session", "$cert", 1],
         "is": "pem", "judge": {"certificate": "rsa2048"}},
        {"call": "GetAttribute", "args": ["$session", "$cert", 2], "expect": "01"},
        {"call": "GetAttribute", "args": ["$session", "$public", 2], "expect": "01"},
        {"call": "GetAttribute", "args": ["$session", "$private", 2], "expect": "01"},
        {"call": "GetAttribute", "args": ["$session", "$cert", 3], "expect": "00C0FFEE01"},
        {"call": "GetAttribute", "args": ["$session", "$cert", 4], "expect": ""},
        {"call": "GetAttribute", "args": ["$session", "$cert", 0], "expect": ""},
        {"call": "GetAttribute", "args": ["$session", 987654, 1], "expect": ""},
        {"call": "GetAttribute", "args": [1, "$cert", 1], "expect": ""},
        {"call": "EnumCertificate", "args": [1, 0], "expect": 1002},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0}
      ]
    },
    {
      "name": "token cryptography",
      "road": "token",
      "steps": [
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        // Digests need no login.
        {"call": "Hash", "args": ["$session", 0, "616263"],
         "expect": "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"call": "Hash", "args": ["$session", 2, "616263"],
         "expect": "900150983CD24FB0D6963F7D28E17F72"},
        // SoftHSM2 has no MD2.
        {"call": "Hash", "args": ["$session", 1, "616263"], "expect": ""},
        {"call": "Hash", "args": ["$session", 3, "616263"], "expect": ""},
        {"call": "Hash", "args": ["$session", -1, "616263"], "expect": ""},
        {"call": "Hash", "args": ["$session", 0, ""], "expect": ""},
        // One character is no byte: the digest of nothing.
        {"call": "Hash", "args": ["$session", 0, "6"],
         "expect": "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        // Hex text is read leniently, never refused: "zz" is the byte 0x53.
        {"call": "Hash", "args": ["$session", 0, "zz"],
         "expect": "02AA629C8B16CD17A44F3A0EFEC2FEED43937642"},
        {"call": "Hash", "args": ["$session", 0, "0A0B"], "is": "hex", "save": "digest"},
        {"call": "Hash", "args": ["$session", 0, "0a0B"], "expect": "$digest"},
        {"call": "Hash", "args": [1, 0, "616263"], "expect": ""},
        // Signing needs the user.
        {"call": "EnumPublicKey", "args": ["$session", 0], "is": "handle", "save": "public"},
        {"call": "Login", "args": ["$session", "1234"], "expect": 0},
        {"call": "EnumPrivateKey", "args": ["$session", 0], "is": "handle", "save": "private"},
        {"id": "Sign SHA-1", "call": "Sign", "args": ["$session", "$private", 0, "5061792031303020455552"],
         "length": 512, "save": "signature",
         "judge": {"verifies": "rsa2048", "digest": "sha1", "data": "5061792031303020455552"}},
        {"call": "Verify", "args": ["$session", "$public", 0, "5061792031303020455552", "$signature"],
         "expect": 0},
        {"call": "Verify", "args": ["$session", "$public", 0, "506179203130302045555221", "$signature"],
         "expect": 1007},
        {"call": "Verify", "args": ["$session", "$public", 2, "5061792031303020455552", "$signature"],
         "expect": 1007},
        {"id": "Sign MD5", "call": "Sign", "args": ["$session", "$private", 2, "5061792031303020455552"],
         "length": 512, "save": "md5 signature",
         "judge": {"verifies": "rsa2048", "digest": "md5", "data": "5061792031303020455552"}},
        {"call": "Verify", "args": ["$session", "$public", 2, "5061792031303020455552", "$md5 signature"],
         "expect": 0},
        // Any other hash type signs the bytes as given: here a SHA-256 DigestInfo.
        {"id": "Sign raw", "call": "Sign",
         "args": ["$session", "$private", 7, "3031300D060960864801650304020105000420D11E9CF0D6D5932208BE8AFFF1FFEA231C2886B9DDC4247385D6D4F5D4945C91"],
         "length": 512, "save": "raw signature",
         "judge": {"verifies": "rsa2048", "digest": "sha256", "data": "5061792031303020455552"}},
        {"call": "Verify",
         "args": ["$session", "$public", -1, "3031300D060960864801650304020105000420D11E9CF0D6D5932208BE8AFFF1FFEA231C2886B9DDC4247385D6D4F5D4945C91", "$raw signature"],
         "expect": 0},
        {"call": "Sign", "args": ["$session", "$private", 0, ""], "expect": ""},
        {"call": "Sign", "args": ["$session", "$public", 0, "00"], "expect": ""},
        {"id": "SignByCertSerial SHA-1", "call": "SignByCertSerial",
         "args": ["$session", "00C0FFEE01", 0, "5061792031303020455552"], "length": 512,
         "same": "$signature", "save": "serial signature",
         "judge": {"verifies": "rsa2048", "digest": "sha1", "data": "5061792031303020455552"}},
        {"call": "SignByCertSerial", "args": ["$session", "00c0ffee01", 0, "5061792031303020455552"],
         "expect": "$signature"},
        {"call": "VerifyByCertSerial",
         "args": ["$session", "00C0FFEE01", 0, "5061792031303020455552", "$serial signature"], "expect": 0},
        {"call": "VerifyByCertSerial",
         "args": ["$session", "00C0FFEE01", 0, "506179203130302045555221", "$serial signature"], "expect": 1007},
        {"call": "VerifyByCertSerial",
         "args": ["$session", "0BAD", 0, "5061792031303020455552", "$serial signature"], "expect": 1011},
        {"call": "VerifyByCertSerial", "args": ["$session", "00C0FFEE01", 0, "", "$serial signature"],
         "expect": 1004},
        {"call": "VerifyByCertSerial", "args": [1, "00C0FFEE01", 0, "", "$serial signature"],
         "expect": 1002},
        {"call": "SignByCertSerial", "args": ["$session", "0", 0, "5061792031303020455552"], "expect": ""},
        {"call": "SignByCertSerial", "args": ["$session", "00C0FFEE01", 0, ""], "expect": ""},
        {"call": "SignByCertSerial", "args": ["$session", "0BAD", 0, "5061792031303020455552"], "expect": ""},
        {"id": "Encrypt", "call": "Encrypt", "args": ["$session", "$public", 0, "5061792031303020455552"],
         "length": 512, "save": "ciphertext",
         "judge": {"decrypts": "rsa2048", "data": "5061792031303020455552"}},
        {"call": "Decrypt", "args": ["$session", "$private", 0, "$ciphertext"],
         "expect": "5061792031303020455552"},
        {"call": "Decrypt", "args": ["$session", "$private", 99, "$encrypted:rsa2048"],
         "expect": "48656C6C6F"},
        {"call": "Encrypt", "args": ["$session", "$public", 0, ""], "expect": ""},
        {"call": "Decrypt", "args": ["$session", "$private", 0, ""], "expect": ""},
        {"call": "Decrypt", "args": ["$session", "$private", 0, "00"], "expect": ""},
        // The session is still usable after the failures.
        {"call": "Decrypt", "args": ["$session", "$private", 0, "$ciphertext"],
         "expect": "5061792031303020455552"},
        {"call": "Logout", "args": ["$session"], "expect": 0},
        {"call": "Sign", "args": ["$session", "$private", 0, "00"], "expect": ""},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0},
        {"call": "Encrypt", "args": ["$session", "$public", 0, "00"], "expect": ""}
      ]
    },
    {
      "name": "store",
      "road": "store",
      "steps": [
        // No connection needed; the session argument is not looked at.
        {"id": "SignByCSP SHA-1", "call": "SignByCSP",
         "args": [0, 1, "02048B", 0, "5061792031303020455552"], "length": 512, "save": "signature",
         "judge": {"verifies": "rsa2048b", "digest": "sha1", "data": "5061792031303020455552",
                   "order": "lsb"}},
        {"call": "SignByCSP", "args": [12345, 1, "02048b", 0, "5061792031303020455552"],
         "expect": "$signature"},
        {"id": "SignByCSP MD5", "call": "SignByCSP",
         "args": [0, 1, "02048B", 2, "5061792031303020455552"], "length": 512, "save": "md5 signature",
         "judge": {"verifies": "rsa2048b", "digest": "md5", "data": "5061792031303020455552",
                   "order": "lsb"}},
        {"call": "VerifyByCSP", "args": [0, 1, "02048B", 0, "5061792031303020455552", "$signature"],
         "expect": 0},
        {"call": "VerifyByCSP", "args": [0, 1, "02048B", 2, "5061792031303020455552", "$md5 signature"],
         "expect": 0},
        {"call": "VerifyByCSP", "args": [0, 1, "02048B", 0, "506179203130302045555221", "$signature"],
         "expect": 1007},
        {"call": "VerifyByCSP", "args": [0, 2, "$pem:rsa2048b", 0, "5061792031303020455552", "$signature"],
         "expect": 0},
        {"call": "VerifyByCSP", "args": [0, 3, "$der:rsa2048b", 0, "5061792031303020455552", "$signature"],
         "expect": 0},
        {"call": "VerifyByCSP",
         "args": [0, 4, "$file:rsa2048b.der", 0, "5061792031303020455552", "$signature"], "expect": 0},
        {"call": "VerifyByCSP", "args": [0, 1, "1001", 0, "5061792031303020455552", "$signature"],
         "expect": 1007},
        {"call": "VerifyByCSP", "args": [0, 1, "BEEF", 0, "5061792031303020455552", "$signature"],
         "expect": 1011},
        {"call": "VerifyByCSP", "args": [0, 5, "$pem:rsa2048b", 0, "5061792031303020455552", "$signature"],
         "expect": 1004},
        {"call": "VerifyByCSP", "args": [0, 3, "3082", 0, "5061792031303020455552", "$signature"],
         "expect": 1302},
        {"call": "VerifyByCSP", "args": [0, 4, "$file:missing", 0, "5061792031303020455552", "$signature"],
         "expect": 1304},
        {"call": "VerifyByCSP", "args": [0, 1, "02048B", 3, "5061792031303020455552", "$signature"],
         "expect": 1005},
        {"call": "SignByCSP", "args": [0, 1, "02048B", 3, "5061792031303020455552"], "expect": ""},
        // A certificate without its private key cannot sign or decrypt.
        {"call": "SignByCSP", "args": [0, 1, "1001", 0, "5061792031303020455552"], "expect": ""},
        {"call": "SignByCSP", "args": [0, 1, "BEEF", 0, "5061792031303020455552"], "expect": ""},
        {"id": "EncryptByCSP", "call": "EncryptByCSP",
         "args": [0, 1, "02048B", 0, "5061792031303020455552"], "length": 512, "save": "ciphertext",
         "judge": {"decrypts": "rsa2048b", "data": "5061792031303020455552", "order": "lsb"}},
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "$ciphertext"],
         "expect": "5061792031303020455552"},
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "$encrypted-lsb:rsa2048b"],
         "expect": "48656C6C6F"},
        {"id": "EncryptByCSP DER", "call": "EncryptByCSP",
         "args": [0, 3, "$der:rsa1024", 0, "5061792031303020455552"], "length": 256,
         "judge": {"decrypts": "rsa1024", "data": "5061792031303020455552", "order": "lsb"}},
        // Bad padding is no answer of its own: bytes that are no plaintext,
        // the same each time, so no page can use the key as a padding oracle.
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "$badpadding-lsb:rsa2048b"],
         "is": "hex", "save": "rejected"},
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "$badpadding-lsb:rsa2048b"],
         "same": "$rejected"},
        // A ciphertext that is not of the key's size is refused before the key is used.
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "00"], "expect": ""},
        {"call": "DecryptByCSP", "args": [0, 1, "02048B", 0, "5061792031303020455552"], "expect": ""},
        {"call": "DecryptByCSP", "args": [0, 1, "1001", 0, "$ciphertext"], "expect": ""},
        {"call": "EncryptByCSP", "args": [0, 2, "no certificate", 0, "00"], "expect": ""}
      ]
    },
    {
      "name": "selection dialog, cancelled",
      "road": "store",
      "dialog": "cancel",
      "steps": [
        {"call": "SignByCSP", "args": [0, 0, "", 0, "5061792031303020455552"], "expect": ""},
        {"call": "VerifyByCSP", "args": [0, 0, "", 0, "5061792031303020455552", "00"], "expect": 1301}
      ]
    },
    {
      "name": "selection dialog, accepted",
      "road": "store",
      "dialog": "accept",
      "steps": [
        {"id": "SignByCSP by dialog", "call": "SignByCSP", "args": [0, 0, "", 0, "5061792031303020455552"],
         "length": 512,
         "judge": {"verifies": "rsa2048b", "digest": "sha1", "data": "5061792031303020455552",
                   "order": "lsb"}}
      ]
    },
    {
      "name": "token initialisation",
      "road": "token",
      "steps": [
        {"call": "ConnectToken", "args": [], "is": "handle", "save": "session"},
        {"call": "TokenInitialize", "args": ["$session", "0000", "4321", "renamed"], "expect": 4001},
        {"call": "Login", "args": ["$session", "1234"], "expect": 1002},
        {"call": "ConnectToken", "args": [], "expect": "$session"},
        {"call": "TokenInitialize", "args": ["$session", "5678", "4321", "renamed"], "expect": 0},
        {"call": "Login", "args": ["$session", "4321"], "expect": 1002},
        {"call": "ConnectToken", "args": [], "expect": "$session"},
        {"call": "Login", "args": ["$session", "1234"], "expect": 4001},
        {"call": "Login", "args": ["$session", "4321"], "expect": 0},
        {"call": "EnumCertificate", "args": ["$session", 0], "expect": 1011},
        {"call": "DisconnectToken", "args": ["$session"], "expect": 0}
      ]
    }
  ]
}
;
