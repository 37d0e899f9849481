// The typical road of a script on the Windows control, by name as script
// writes it: connect to the first token, log in, list what the token holds,
// sign by the certificate's serial number and verify.
//   cscript //nologo typical_road.js PIN
// Ends with "ALL PASS" when every step gave what it should (cscript ends
// quietly with status 0 on an uncaught script error).
var pin = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "1234";
var failures = 0;

function step(what, value, good) {
  WScript.Echo((good ? "  " : "! ") + what + ": " + value);
  if (!good) ++failures;
  return value;
}

function hexOf(text) {
  var hex = "";
  for (var i = 0; i < text.length; i++) {
    var code = text.charCodeAt(i).toString(16).toUpperCase();
    hex += code.length < 2 ? "0" + code : code;
  }
  return hex;
}

var ctrl = new ActiveXObject("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
var session = ctrl.ConnectToken();
step("ConnectToken", session, session > 5001);
step("RetrieveSerial", "\"" + ctrl.RetrieveSerial(session) + "\"", true);
var login = ctrl.Login(session, pin);
step("Login", login, login == 0);

var serial = "";
for (var i = 0; ; i++) {
  var cert = ctrl.EnumCertificate(session, i);
  if (cert == 1011 || cert == 1002) break;
  var pem = ctrl.GetAttribute(session, cert, 1);
  var id = ctrl.GetAttribute(session, cert, 2);
  if (serial == "") serial = ctrl.GetAttribute(session, cert, 3);
  step("certificate " + i, "object " + cert + ", ID " + id + ", serial " +
       ctrl.GetAttribute(session, cert, 3) + ", " + pem.length + " characters of PEM",
       pem.indexOf("-----BEGIN CERTIFICATE-----") == 0);
}
var key = ctrl.EnumPrivateKey(session, 0);
step("EnumPrivateKey 0", key, key != 1011 && key != 1002);

var data = hexOf("Pay 100 EUR to Bob");
var signature = ctrl.SignByCertSerial(session, serial, 0, data);
step("SignByCertSerial (SHA-1)", signature.substring(0, 32) + "... (" + signature.length / 2 +
     " bytes)", signature.length > 0);
var verified = ctrl.VerifyByCertSerial(session, serial, 0, data, signature);
step("VerifyByCertSerial", verified, verified == 0);
var changed = ctrl.VerifyByCertSerial(session, serial, 0, data + "21", signature);
step("VerifyByCertSerial, data changed", changed, changed == 1007);
step("Logout", ctrl.Logout(session), true);
step("DisconnectToken", ctrl.DisconnectToken(session), true);
WScript.Echo(failures == 0 ? "ALL PASS" : "FAILED " + failures);
