// The conformance vectors (tests/conformance/vectors.js) run from JScript
// on the Windows control, as a script host creates it:
//   cscript //nologo conformance.js VECTORS.js FIXTURE.js [WHICH]
// WHICH: "plain" (default: every group without the selection dialog),
// "accept" or "cancel" (the groups whose dialog is answered so), or a
// group's name. FIXTURE.js is what `conformance_tool fixture` wrote.
//
// Prints "GROUP name" per group, "JUDGE id<TAB>text" for each result
// OpenSSL judges afterwards on the Linux side (conformance_tool judge),
// "FAIL ..." for each step that does not give what the table says, and
// last "ALL PASS ..." only when every step did. cscript ends quietly with
// status 0 on an uncaught script error, so whoever runs this must require
// that last line.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var args = WScript.Arguments;

function readText(path) {
  var file = fso.OpenTextFile(path, 1);
  var text = file.ReadAll();
  file.Close();
  return text;
}

eval(readText(args(0)));  // TARVONA_VECTORS
eval(readText(args(1)));  // TARVONA_FIXTURE
var which = args.length > 2 ? args(2) : "plain";

// Automation errors by name, as script sees them: the control's HRESULT,
// but for a name the control does not know, which JScript reports as its
// own runtime error 438 ("Object doesn't support this property or method").
var ERRORS = {
  DISP_E_UNKNOWNNAME: 0x800A01B6,
  DISP_E_TYPEMISMATCH: 0x80020005,
  DISP_E_OVERFLOW: 0x8002000A,
  DISP_E_BADPARAMCOUNT: 0x8002000E
};

var RESULT_CODES = [[0, 0], [1001, 1011], [1301, 1305], [4001, 4008], [5001, 5001]];

function hex32(number) {
  return "0x" + ((number < 0 ? number + 0x100000000 : number).toString(16).toUpperCase());
}

function show(value) {
  if (typeof value == "string") return "\"" + value + "\"";
  return String(value);
}

function isResultCode(value) {
  for (var i = 0; i < RESULT_CODES.length; i++) {
    if (value >= RESULT_CODES[i][0] && value <= RESULT_CODES[i][1]) return true;
  }
  return false;
}

function evaluate(expression, saved) {
  if (typeof expression == "string") {
    if (expression.charAt(0) != "$") return expression;
    var name = expression.substring(1);
    if (saved.hasOwnProperty(name)) return saved[name];
    if (TARVONA_FIXTURE.hasOwnProperty(name)) return TARVONA_FIXTURE[name];
    throw new Error("no value " + expression);
  }
  if (expression instanceof Array) {
    var values = [];
    for (var i = 0; i < expression.length; i++) values.push(evaluate(expression[i], saved));
    return values;
  }
  if (expression !== null && typeof expression == "object") {
    if (expression.hasOwnProperty("text")) return String(evaluate(expression.text, saved));
    if (expression.hasOwnProperty("concat")) {
      var joined = "";
      for (var j = 0; j < expression.concat.length; j++) {
        joined += String(evaluate(expression.concat[j], saved));
      }
      return joined;
    }
  }
  return expression;
}

// A call by name, as script writes it: control.Method(a, b, ...).
function invoke(control, method, a) {
  var list = [];
  for (var i = 0; i < a.length; i++) list.push("a[" + i + "]");
  return eval("control." + method + "(" + list.join(", ") + ")");
}

function isUpperHex(text) {
  return typeof text == "string" && text.length > 0 && text.length % 2 == 0 &&
         /^[0-9A-F]*$/.test(text);
}

function endsWith(text, end) {
  return text.length >= end.length && text.substring(text.length - end.length) == end;
}

// What is wrong with a step's outcome, or "" (the judgement aside).
function check(step, outcome, saved) {
  if (step.hasOwnProperty("error")) {
    if (!outcome.failed) return "expected the error " + step.error + ", got " + show(outcome.result);
    if (outcome.number == (ERRORS[step.error] | 0)) return "";
    return "expected the error " + step.error + ", got " + hex32(outcome.number) + " " +
           outcome.message;
  }
  if (outcome.failed) return "failed with " + hex32(outcome.number) + " " + outcome.message;
  var result = outcome.result;
  var got = ", got " + show(result) + " (" + typeof result + ")";
  if (step.hasOwnProperty("expect")) {
    var expected = evaluate(step.expect, saved);
    if (result !== expected) return "expected " + show(expected) + got;
  }
  if (step.hasOwnProperty("same") && result !== evaluate(step.same, saved)) {
    return "expected the same as " + step.same + got;
  }
  if (step.hasOwnProperty("differs") && result === evaluate(step.differs, saved)) {
    return "expected other than " + step.differs + got;
  }
  if (step.is == "handle" &&
      (typeof result != "number" || Math.floor(result) != result || isResultCode(result))) {
    return "expected a handle" + got;
  }
  if (step.is == "hex" && !isUpperHex(result)) return "expected upper-case hex text" + got;
  if (step.is == "pem" &&
      (typeof result != "string" || result.indexOf("-----BEGIN CERTIFICATE-----\r\n") != 0 ||
       !endsWith(result, "-----END CERTIFICATE-----\r\n"))) {
    return "expected certificate PEM text" + got;
  }
  if (step.hasOwnProperty("length") &&
      (typeof result != "string" || result.length != step.length)) {
    return "expected text of " + step.length + " characters" + got;
  }
  return "";
}

function escaped(text) {
  return String(text).replace(/\\/g, "\\\\").replace(/\r/g, "\\r").replace(/\n/g, "\\n");
}

function chosen(group) {
  var dialog = group.hasOwnProperty("dialog") ? group.dialog : "";
  if (which == "plain") return dialog == "";
  if (which == "accept" || which == "cancel") return dialog == which;
  return group.name == which;
}

var groups = 0, steps = 0, judged = 0, failures = 0;
for (var g = 0; g < TARVONA_VECTORS.groups.length; g++) {
  var group = TARVONA_VECTORS.groups[g];
  if (!chosen(group)) continue;
  ++groups;
  WScript.Echo("GROUP " + group.name);
  var control = new ActiveXObject("TARVONAACTIVEX.TarvonaActiveXCtrl.1");
  var saved = {};
  for (var s = 0; s < group.steps.length; s++) {
    var step = group.steps[s];
    var outcome = {failed: false};
    ++steps;
    var wrong = "";
    try {
      var values = evaluate(step.args, saved);
      try {
        outcome.result = invoke(control, step.call, values);
      } catch (e) {
        outcome.failed = true;
        outcome.number = e.number;
        outcome.message = e.message;
      }
      wrong = check(step, outcome, saved);
    } catch (e) {
      wrong = e.message;  // a value an earlier failed step did not save
    }
    if (wrong != "") {
      ++failures;
      WScript.Echo("FAIL " + group.name + " #" + (s + 1) + " " + step.call + ": " + wrong);
      continue;
    }
    if (step.hasOwnProperty("save")) saved[step.save] = outcome.result;
    if (step.hasOwnProperty("judge")) {
      ++judged;
      WScript.Echo("JUDGE " + step.id + "\t" + escaped(outcome.result));
    }
  }
  control = null;
  CollectGarbage();
}

if (groups == 0) {
  WScript.Echo("FAIL no group chosen by " + which);
} else if (failures == 0) {
  WScript.Echo("ALL PASS " + steps + " calls in " + groups + " groups, " + judged +
               " results for OpenSSL");
} else {
  WScript.Echo("FAILED " + failures + " of " + steps + " calls");
}
