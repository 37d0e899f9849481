// Sign from JScript as a page's script calls it, timed over many calls:
//   cscript //nologo sign_loop.js CALLS
// Prints "JSCRIPT_SIGN_US <microseconds per call>", or "FAIL ..." when a
// call gives no signature.
var calls = WScript.Arguments.length > 0 ? parseInt(WScript.Arguments(0), 10) : 1000;
var ctrl = new ActiveXObject("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
var session = ctrl.ConnectToken();
if (ctrl.Login(session, "1234") != 0) WScript.Echo("FAIL Login");
var key = ctrl.EnumPrivateKey(session, 0);
var data = "5061792031303020455552";
for (var warm = 0; warm < 20; warm++) ctrl.Sign(session, key, 0, data);
var start = new Date().getTime();
for (var i = 0; i < calls; i++) {
  if (ctrl.Sign(session, key, 0, data) == "") {
    WScript.Echo("FAIL Sign gave no signature");
    break;
  }
}
WScript.Echo("JSCRIPT_SIGN_US " + ((new Date().getTime() - start) * 1000 / calls).toFixed(0));
