#include "host/host_session.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <vector>

#include "common/result_code.h"
#include "encoding/base64.h"

namespace tarvona::host {
namespace {

using json = nlohmann::ordered_json;

constexpr int64_t kLargestSurface = 4096;

json Error(Status hr, std::string message) {
  std::string_view name = StatusName(hr);
  return {{"error", {{"name", name.empty() ? "E_FAIL" : name}, {"message", std::move(message)}}}};
}

json Error(const Outcome& failed) { return Error(failed.status, failed.message); }

// JSON values as a script engine would pass them: whole numbers as integers
// (32-bit when they fit), text as strings; anything else has no matching
// automation type and is refused by the call.
Value ToValue(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    int64_t n = value.get<int64_t>();
    if (n >= INT32_MIN && n <= INT32_MAX) return static_cast<int32_t>(n);
    return n;
  }
  if (value.is_number_unsigned()) {
    uint64_t n = value.get<uint64_t>();
    if (n <= INT32_MAX) return static_cast<int32_t>(n);
    // Past int64 is still an integer: let the call report the overflow.
    return static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX));
  }
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (std::trunc(d) == d && std::fabs(d) < 9.2e18) return static_cast<int64_t>(d);
  }
  return std::monostate{};
}

json FromValue(const Value& value) {
  return std::visit(
      [](const auto& v) -> json {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) {
          return nullptr;
        } else {
          return v;
        }
      },
      value);
}

std::string CallError(Status hr, const std::string& method, const std::optional<MethodInfo>& func,
                      uint32_t arg_error) {
  if (hr == status::kBadParamCount && func) {
    return method + " takes " + std::to_string(func->params.size()) + " parameters";
  }
  if ((hr == status::kTypeMismatch || hr == status::kOverflow) && func &&
      arg_error < func->params.size()) {
    const MethodInfo::Param& param = func->params[arg_error];
    const char* expected = param.type == ValueType::kBstr ? "a string"
                           : param.type == ValueType::kI2 ? "a 16-bit integer"
                                                          : "a 32-bit integer";
    return "parameter " + std::to_string(arg_error + 1) + " (" + param.name + ") of " + method +
           " must be " + expected;
  }
  return "call of " + method + " failed";
}

// The store methods' answers to a page that the page rules decide without
// the control. Certificate source 4 names a file on the user's disk: a web
// page has no honest use for one, and the methods' answers (missing, over
// 4096 bytes, not a certificate) would let any allowed page probe which
// files and programs the user has. It gets the control's invalid-argument
// answer (1004, or the empty string where the method hides its code), as
// source 0, the selection dialog, does where the machine's policy turns
// the dialog off. Where the policy turns the store road off, the store's
// sources (0, the dialog, and 1, a serial number) get what an empty store
// gives: no certificate chosen (1301) and no such serial number (1011).
std::optional<json> PageStoreAnswer(HostedControl& control, int32_t dispid,
                                    const std::vector<Value>& args, const Policy& policy) {
  constexpr size_t kSourceParam = 1;  // after SessionID in all four methods
  constexpr int32_t kSourceDialog = 0;
  constexpr int32_t kSourceSerial = 1;
  constexpr int32_t kSourceFile = 4;
  static constexpr std::string_view kStoreMethods[] = {"SignByCSP", "VerifyByCSP", "EncryptByCSP",
                                                       "DecryptByCSP"};
  if (args.size() <= kSourceParam) return std::nullopt;
  // The source as the control would read it ("4" and 4.0 are 4 too).
  const std::optional<int32_t> source = control.AsInt32(args[kSourceParam]);
  int32_t code = kOk;
  if (source == kSourceFile || (source == kSourceDialog && !policy.certificate_dialog)) {
    code = kInvalidArgument;
  } else if (source == kSourceDialog && !policy.store_road) {
    code = kStoreUnavailable;
  } else if (source == kSourceSerial && !policy.store_road) {
    code = kObjectNotFound;
  } else {
    return std::nullopt;
  }
  auto func = control.Describe(dispid);
  if (!func || func->params.size() != args.size() ||
      std::find(std::begin(kStoreMethods), std::end(kStoreMethods), func->name) ==
          std::end(kStoreMethods)) {
    return std::nullopt;
  }
  if (func->result == ValueType::kBstr) return json{{"result", ""}};
  return json{{"result", code}};
}

}  // namespace

HostSession::HostSession(ControlHost& controls, OriginPolicy* origins, int hangup)
    : controls_(controls), origins_(origins), hangup_(hangup) {}

HostSession::~HostSession() {
  objects_.clear();
  controls_.FreeUnused();
}

json HostSession::Handle(const json& request) {
  json response;
  if (!request.is_object()) {
    response = Error(status::kInvalidArgument, "a request is a JSON object");
  } else if (request.contains("create")) {
    response = Create(request);
  } else if (request.contains("release")) {
    response = Release(request["release"]);
  } else if (request.contains("save")) {
    response = Save(request["save"]);
  } else if (request.contains("load")) {
    response = Load(request["load"]);
  } else if (request.contains("reset")) {
    response = Reset(request["reset"]);
  } else if (request.contains("pages")) {
    response = Pages(request["pages"]);
  } else if (request.contains("object") && request.contains("draw")) {
    response = Draw(request);
  } else if (request.contains("object")) {
    response = Call(request);
  } else {
    response = Error(status::kInvalidArgument,
                     "a request has \"create\", \"object\", \"release\", \"save\", \"load\", "
                     "\"reset\" or \"pages\"");
  }
  json id = request.is_object() && request.contains("id") ? request["id"] : json(nullptr);
  json out = {{"id", std::move(id)}};
  out.update(response);
  return out;
}

std::string HostSession::HandleText(std::string_view request_text) {
  json request = json::parse(request_text, nullptr, /*allow_exceptions=*/false);
  if (request.is_discarded()) {
    json out = {{"id", nullptr}};
    out.update(Error(status::kInvalidArgument, "the request is not valid JSON"));
    return Serialize(out);
  }
  return Serialize(Handle(request));
}

HostSession::Hosted* HostSession::Find(const json& object) {
  if (!object.is_number_integer()) return nullptr;
  auto found = objects_.find(object.get<int64_t>());
  return found == objects_.end() ? nullptr : found->second.get();
}

json HostSession::Create(const json& request) {
  const json& prog_id = request["create"];
  std::string origin;
  if (origins_ != nullptr) {
    if (origins_->machine().refuses_every_page) {
      return Error(status::kAccessDenied,
                   "no page may use the control: the machine's policy for pages is not valid");
    }
    const json& given = request.contains("origin") ? request["origin"] : json();
    if (!given.is_string() || !origins_->Allows(given.get<std::string>())) {
      return Error(status::kAccessDenied, "this page may not use the control: " + given.dump());
    }
    origin = given.get<std::string>();
  }
  if (!prog_id.is_string()) return Error(status::kInvalidArgument, "\"create\" takes a ProgID");
  std::unique_ptr<Hosted> control;
  Outcome created = controls_.Create(prog_id.get<std::string>(),
                                     origins_ != nullptr ? &origin : nullptr, hangup_, &control);
  if (Failed(created.status)) return Error(created);

  int64_t id = next_object_++;
  objects_.emplace(id, std::move(control));
  return {{"object", id}};
}

json HostSession::Release(const json& object) {
  if (!object.is_number_integer() || objects_.erase(object.get<int64_t>()) == 0) {
    return Error(status::kHandle, "no such object: " + object.dump());
  }
  controls_.FreeUnused();
  return {{"released", object}};
}

json HostSession::Call(const json& request) {
  const json& object = request["object"];
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(status::kHandle, "no such object: " + object.dump());
  constexpr int32_t kUnknown = -1;  // DISPID_UNKNOWN
  int32_t dispid = kUnknown;
  std::string method;
  if (request.contains("method")) {
    const json& name = request["method"];
    if (name.is_string()) {
      method = name.get<std::string>();
      if (Failed(hosted->DispIdOf(method, &dispid))) dispid = kUnknown;
    }
    if (dispid == kUnknown) {
      return Error(status::kUnknownName, "unknown method: " + name.dump());
    }
  } else if (request.contains("dispid")) {
    const json& id = request["dispid"];
    if (!id.is_number_integer()) {
      return Error(status::kMemberNotFound, "unknown DISPID: " + id.dump());
    }
    dispid = static_cast<int32_t>(std::clamp<int64_t>(id.get<int64_t>(), INT32_MIN, INT32_MAX));
    method = "DISPID " + std::to_string(dispid);
  } else {
    return Error(status::kInvalidArgument, "a call names \"method\" or \"dispid\"");
  }

  std::vector<Value> args;
  if (request.contains("params")) {
    const json& params = request["params"];
    if (!params.is_array()) return Error(status::kInvalidArgument, "\"params\" is an array");
    for (const json& param : params) args.push_back(ToValue(param));
  }
  if (origins_ != nullptr) {
    if (auto answer = PageStoreAnswer(*hosted, dispid, args, origins_->machine())) {
      return *std::move(answer);
    }
  }
  Value result;
  uint32_t arg_error = 0;
  Status hr = hosted->Invoke(dispid, args, &result, &arg_error);
  if (hr == status::kMemberNotFound && !request.contains("method")) {
    return Error(hr, "unknown DISPID: " + request["dispid"].dump());
  }
  if (Failed(hr)) {
    auto func = hosted->Describe(dispid);
    return Error(hr, CallError(hr, func ? func->name : method, func, arg_error));
  }
  return {{"result", FromValue(result)}};
}

json HostSession::Save(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(status::kHandle, "no such object: " + object.dump());
  Properties saved;
  if (Outcome done = hosted->Save(&saved); Failed(done.status)) return Error(done);
  json properties = json::object();
  for (const auto& [name, value] : saved) properties[name] = FromValue(value);
  return {{"properties", std::move(properties)}};
}

json HostSession::Load(const json& load) {
  if (!load.is_object() || !load.contains("object") || !load.contains("properties") ||
      !load["properties"].is_object()) {
    return Error(status::kInvalidArgument, "\"load\" takes \"object\" and \"properties\"");
  }
  Hosted* hosted = Find(load["object"]);
  if (hosted == nullptr) {
    return Error(status::kHandle, "no such object: " + load["object"].dump());
  }
  Properties properties;
  for (const auto& [name, value] : load["properties"].items()) {
    properties.emplace_back(name, ToValue(value));
  }
  if (Outcome done = hosted->Load(properties); Failed(done.status)) return Error(done);
  return {{"loaded", load["object"]}};
}

json HostSession::Reset(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(status::kHandle, "no such object: " + object.dump());
  if (Outcome done = hosted->Reset(); Failed(done.status)) return Error(done);
  return {{"reset", object}};
}

json HostSession::Draw(const json& request) {
  Hosted* hosted = Find(request["object"]);
  if (hosted == nullptr) {
    return Error(status::kHandle, "no such object: " + request["object"].dump());
  }
  const json& draw = request["draw"];
  auto side = [&](const char* key) -> int64_t {
    if (!draw.is_object() || !draw.contains(key) || !draw[key].is_number_integer()) return 0;
    return draw[key].get<int64_t>();
  };
  const int64_t width = side("width"), height = side("height");
  if (width < 1 || height < 1 || width > kLargestSurface || height > kLargestSurface) {
    return Error(status::kInvalidArgument, "\"draw\" takes a width and a height of 1 to 4096");
  }
  std::vector<uint8_t> png;
  if (Outcome done = hosted->Draw(static_cast<int32_t>(width), static_cast<int32_t>(height), &png);
      Failed(done.status)) {
    return Error(done);
  }
  return {{"png", Base64Encode(png)}};
}

json HostSession::Pages(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(status::kHandle, "no such object: " + object.dump());
  std::vector<PropertyPageText> listed;
  if (Outcome done = hosted->Pages(&listed); Failed(done.status)) return Error(done);
  json pages = json::array();
  for (auto& page : listed) {
    pages.push_back(
        {{"clsid", page.clsid}, {"caption", page.caption}, {"text", std::move(page.text)}});
  }
  return {{"pages", std::move(pages)}};
}

std::string Serialize(const json& response) {
  return response.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarvona::host
