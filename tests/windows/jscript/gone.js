// After unregistration the ProgID leads nowhere: creating the control fails.
//   cscript //nologo gone.js
try {
  new ActiveXObject("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
  WScript.Echo("FAIL the control was created");
} catch (e) {
  WScript.Echo("ALL PASS creating the control fails: " + e.message);
}
