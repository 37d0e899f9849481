#include "host/host_session.h"

#include <cmath>
#include <limits>
#include <vector>

#include "control/method_table.h"
#include "control/tarvona_control.h"
#include "platform/hresult.h"
#include "platform/variant.h"

namespace tarvona::host {
namespace {

using json = nlohmann::ordered_json;
using platform::HRESULT;

json Error(HRESULT hr, std::string message) {
  std::string_view name = platform::HresultName(hr);
  return {{"error", {{"name", name.empty() ? "E_FAIL" : name}, {"message", std::move(message)}}}};
}

// JSON values as a script engine would pass them: whole numbers as integers
// (32-bit when they fit), text as strings; anything else has no matching
// automation type and is refused by the call.
platform::Variant ToVariant(const json& value) {
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

json FromVariant(const platform::Variant& value) {
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

std::string CallError(HRESULT hr, const MethodInfo& method, uint32_t arg_error) {
  if (hr == platform::DISP_E_BADPARAMCOUNT) {
    return std::string(method.name) + " takes " + std::to_string(method.params.size()) +
           " parameters";
  }
  if ((hr == platform::DISP_E_TYPEMISMATCH || hr == platform::DISP_E_OVERFLOW) &&
      arg_error < method.params.size()) {
    const ParamInfo& param = method.params[arg_error];
    const char* expected = param.type == platform::VarType::kBstr  ? "a string"
                           : param.type == platform::VarType::kI2 ? "a 16-bit integer"
                                                                   : "a 32-bit integer";
    return "parameter " + std::to_string(arg_error + 1) + " (" + std::string(param.name) +
           ") of " + std::string(method.name) + " must be " + expected;
  }
  return "call of " + std::string(method.name) + " failed";
}

}  // namespace

HostSession::HostSession(ControlFactory& factory) : factory_(factory) {}

HostSession::~HostSession() = default;

json HostSession::Handle(const json& request) {
  json response;
  if (!request.is_object()) {
    response = Error(platform::E_INVALIDARG, "a request is a JSON object");
  } else if (request.contains("create")) {
    response = Create(request["create"]);
  } else if (request.contains("release")) {
    response = Release(request["release"]);
  } else if (request.contains("object")) {
    response = Call(request);
  } else {
    response = Error(platform::E_INVALIDARG, "a request has \"create\", \"object\" or \"release\"");
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
    out.update(Error(platform::E_INVALIDARG, "the request is not valid JSON"));
    return Serialize(out);
  }
  return Serialize(Handle(request));
}

json HostSession::Create(const json& prog_id) {
  if (!prog_id.is_string()) return Error(platform::E_INVALIDARG, "\"create\" takes a ProgID");
  auto control = factory_.Create(prog_id.get<std::string>());
  if (control == nullptr) {
    return Error(platform::REGDB_E_CLASSNOTREG,
                 "class not registered: " + prog_id.get<std::string>());
  }
  int64_t id = next_object_++;
  controls_.emplace(id, std::move(control));
  return {{"object", id}};
}

json HostSession::Release(const json& object) {
  if (!object.is_number_integer() || controls_.erase(object.get<int64_t>()) == 0) {
    return Error(platform::E_HANDLE, "no such object: " + object.dump());
  }
  return {{"released", object}};
}

json HostSession::Call(const json& request) {
  const json& object = request["object"];
  auto found = object.is_number_integer() ? controls_.find(object.get<int64_t>()) : controls_.end();
  if (found == controls_.end()) return Error(platform::E_HANDLE, "no such object: " + object.dump());

  const MethodInfo* method = nullptr;
  if (request.contains("method")) {
    const json& name = request["method"];
    if (name.is_string()) method = FindMethod(name.get<std::string>());
    if (method == nullptr) return Error(platform::DISP_E_UNKNOWNNAME, "unknown method: " + name.dump());
  } else if (request.contains("dispid")) {
    const json& dispid = request["dispid"];
    if (dispid.is_number_integer()) method = FindMethod(static_cast<int32_t>(
        std::clamp<int64_t>(dispid.get<int64_t>(), INT32_MIN, INT32_MAX)));
    if (method == nullptr) {
      return Error(platform::DISP_E_MEMBERNOTFOUND, "unknown DISPID: " + dispid.dump());
    }
  } else {
    return Error(platform::E_INVALIDARG, "a call names \"method\" or \"dispid\"");
  }

  std::vector<platform::Variant> args;
  if (request.contains("params")) {
    const json& params = request["params"];
    if (!params.is_array()) return Error(platform::E_INVALIDARG, "\"params\" is an array");
    for (const json& param : params) args.push_back(ToVariant(param));
  }
  platform::Variant result;
  uint32_t arg_error = 0;
  HRESULT hr = Invoke(*found->second, method->dispid, args, result, &arg_error);
  if (platform::Failed(hr)) return Error(hr, CallError(hr, *method, arg_error));
  return {{"result", FromVariant(result)}};
}

std::string Serialize(const json& response) {
  return response.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarvona::host
