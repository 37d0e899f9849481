#include "host/host_session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "com/hresult.h"
#include "com/type_library.h"
#include "com/variant.h"
#include "common/result_code.h"
#include "encoding/base64.h"
#include "host/png_writer.h"

namespace tarvona::host {
namespace {

using json = nlohmann::ordered_json;
using com::ComPtr;
using com::HRESULT;

constexpr int64_t kLargestSurface = 4096;

json Error(HRESULT hr, std::string message) {
  std::string_view name = com::HresultName(hr);
  return {{"error", {{"name", name.empty() ? "E_FAIL" : name}, {"message", std::move(message)}}}};
}

// JSON values as a script engine would pass them: whole numbers as integers
// (32-bit when they fit), text as strings; anything else has no matching
// automation type and is refused by the call.
com::Variant ToVariant(const json& value) {
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

json FromVariant(const com::Variant& value) {
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

// The method's description from the control's type information, for error
// messages; nullopt when the control gives none.
std::optional<com::FuncDesc> Describe(com::IDispatch& dispatch, com::DISPID id) {
  ComPtr<com::ITypeInfo> info;
  if (com::Failed(dispatch.GetTypeInfo(0, com::LOCALE_USER_DEFAULT, info.put()))) {
    return std::nullopt;
  }
  const com::FuncDesc* func = nullptr;
  for (uint32_t i = 0; com::Succeeded(info->GetFuncDesc(i, &func)); ++i) {
    if (func->memid == id) return *func;
  }
  return std::nullopt;
}

std::string CallError(HRESULT hr, const std::string& method,
                      const std::optional<com::FuncDesc>& func, uint32_t arg_error) {
  if (hr == com::DISP_E_BADPARAMCOUNT && func) {
    return method + " takes " + std::to_string(func->params.size()) + " parameters";
  }
  if ((hr == com::DISP_E_TYPEMISMATCH || hr == com::DISP_E_OVERFLOW) && func &&
      arg_error < func->params.size()) {
    const com::ParamDesc& param = func->params[arg_error];
    const char* expected = param.type == com::VarType::kBstr ? "a string"
                           : param.type == com::VarType::kI2 ? "a 16-bit integer"
                                                             : "a 32-bit integer";
    return "parameter " + std::to_string(arg_error + 1) + " (" + param.name + ") of " + method +
           " must be " + expected;
  }
  return "call of " + method + " failed";
}

// Certificate source 4 of the store methods names a file on the user's
// disk. A web page has no honest use for one, and the methods' answers
// (missing, over 4096 bytes, not a certificate) would let any allowed page
// probe which files and programs the user has. In the browser road such a
// call gets the control's invalid-argument answer (1004, or the empty
// string where the method hides its code) without reaching the control.
std::optional<json> RefuseLocalFile(com::IDispatch& dispatch, com::DISPID dispid,
                                    const std::vector<com::Variant>& args) {
  constexpr size_t kSourceParam = 1;  // after SessionID in all four methods
  constexpr int32_t kSourceFile = 4;
  static constexpr std::string_view kStoreMethods[] = {"SignByCSP", "VerifyByCSP",
                                                       "EncryptByCSP", "DecryptByCSP"};
  com::Variant source;
  // The source as the control would read it ("4" and 4.0 are 4 too).
  if (args.size() <= kSourceParam ||
      com::Failed(com::ChangeType(args[kSourceParam], com::VarType::kI4, &source)) ||
      std::get<int32_t>(source) != kSourceFile) {
    return std::nullopt;
  }
  auto func = Describe(dispatch, dispid);
  if (!func || func->params.size() != args.size() ||
      std::find(std::begin(kStoreMethods), std::end(kStoreMethods), func->name) ==
          std::end(kStoreMethods)) {
    return std::nullopt;
  }
  if (func->result == com::VarType::kBstr) return json{{"result", ""}};
  return json{{"result", kInvalidArgument}};
}

template <typename Interface>
HRESULT Ask(com::IDispatch& object, ComPtr<Interface>* out) {
  return object.QueryInterface(Interface::kIid, out->put_void());
}

}  // namespace

// The container's side of one control. It keeps no picture, so a stale
// picture needs nothing, and it keeps the size the host asked for, so size
// requests are declined.
class HostSession::Site final : public com::ComObject<com::IControlSite> {
 public:
  HRESULT RequestExtent(const com::SizeL&) noexcept override { return com::S_FALSE; }
  HRESULT InvalidateControl() noexcept override { return com::S_OK; }

 private:
  ~Site() = default;
};

HostSession::HostSession(ComActivator& activator, OriginPolicy* origins)
    : activator_(activator), origins_(origins) {}

HostSession::~HostSession() {
  objects_.clear();
  activator_.FreeUnusedLibraries();
}

json HostSession::Handle(const json& request) {
  json response;
  if (!request.is_object()) {
    response = Error(com::E_INVALIDARG, "a request is a JSON object");
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
    response = Error(com::E_INVALIDARG,
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
    out.update(Error(com::E_INVALIDARG, "the request is not valid JSON"));
    return Serialize(out);
  }
  return Serialize(Handle(request));
}

HostSession::Hosted* HostSession::Find(const json& object) {
  if (!object.is_number_integer()) return nullptr;
  auto found = objects_.find(object.get<int64_t>());
  return found == objects_.end() ? nullptr : &found->second;
}

json HostSession::Create(const json& request) {
  const json& prog_id = request["create"];
  if (origins_ != nullptr) {
    const json& origin = request.contains("origin") ? request["origin"] : json();
    if (!origin.is_string() || !origins_->Allows(origin.get<std::string>())) {
      return Error(com::E_ACCESSDENIED, "this page may not use the control: " + origin.dump());
    }
  }
  if (!prog_id.is_string()) return Error(com::E_INVALIDARG, "\"create\" takes a ProgID");
  const std::string name = prog_id.get<std::string>();
  com::CLSID clsid{};
  Hosted hosted;
  HRESULT hr = activator_.ClsidFromProgId(name, &clsid);
  if (com::Succeeded(hr)) {
    hr = activator_.CreateInstance(clsid, com::IID_IDispatch, hosted.dispatch.put_void());
  }
  if (hr == com::REGDB_E_CLASSNOTREG) return Error(hr, "class not registered: " + name);
  if (com::Failed(hr)) return Error(hr, "cannot create " + name);

  // The site comes first, then the control starts out new.
  hosted.site = ComPtr<Site>::Adopt(new Site());
  ComPtr<com::IControlObject> control;
  if (com::Succeeded(Ask(*hosted.dispatch, &control))) {
    control->SetClientSite(hosted.site.get());
  }
  ComPtr<com::IPersistPropertyBag> persist;
  if (com::Succeeded(Ask(*hosted.dispatch, &persist))) persist->InitNew();

  int64_t id = next_object_++;
  objects_.emplace(id, std::move(hosted));
  return {{"object", id}};
}

json HostSession::Release(const json& object) {
  if (!object.is_number_integer() || objects_.erase(object.get<int64_t>()) == 0) {
    return Error(com::E_HANDLE, "no such object: " + object.dump());
  }
  activator_.FreeUnusedLibraries();
  return {{"released", object}};
}

json HostSession::Call(const json& request) {
  const json& object = request["object"];
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(com::E_HANDLE, "no such object: " + object.dump());
  com::IDispatch& dispatch = *hosted->dispatch;

  com::DISPID dispid = com::DISPID_UNKNOWN;
  std::string method;
  if (request.contains("method")) {
    const json& name = request["method"];
    if (name.is_string()) {
      method = name.get<std::string>();
      const char* names[] = {method.c_str()};
      if (com::Failed(
              dispatch.GetIDsOfNames(com::IID_NULL, names, 1, com::LOCALE_USER_DEFAULT, &dispid))) {
        dispid = com::DISPID_UNKNOWN;
      }
    }
    if (dispid == com::DISPID_UNKNOWN) {
      return Error(com::DISP_E_UNKNOWNNAME, "unknown method: " + name.dump());
    }
  } else if (request.contains("dispid")) {
    const json& id = request["dispid"];
    if (!id.is_number_integer()) {
      return Error(com::DISP_E_MEMBERNOTFOUND, "unknown DISPID: " + id.dump());
    }
    dispid = static_cast<com::DISPID>(std::clamp<int64_t>(id.get<int64_t>(), INT32_MIN, INT32_MAX));
    method = "DISPID " + std::to_string(dispid);
  } else {
    return Error(com::E_INVALIDARG, "a call names \"method\" or \"dispid\"");
  }

  std::vector<com::Variant> args;
  if (request.contains("params")) {
    const json& params = request["params"];
    if (!params.is_array()) return Error(com::E_INVALIDARG, "\"params\" is an array");
    for (const json& param : params) args.push_back(ToVariant(param));
  }
  if (origins_ != nullptr) {
    if (auto refused = RefuseLocalFile(dispatch, dispid, args)) return *std::move(refused);
  }
  const com::DispParams params{args.data(), static_cast<uint32_t>(args.size()), nullptr, 0};
  com::Variant result;
  uint32_t arg_error = 0;
  HRESULT hr = dispatch.Invoke(dispid, com::IID_NULL, com::LOCALE_USER_DEFAULT,
                               com::DISPATCH_METHOD, &params, &result, nullptr, &arg_error);
  if (hr == com::DISP_E_MEMBERNOTFOUND && !request.contains("method")) {
    return Error(hr, "unknown DISPID: " + request["dispid"].dump());
  }
  if (com::Failed(hr)) {
    auto func = Describe(dispatch, dispid);
    return Error(hr, CallError(hr, func ? func->name : method, func, arg_error));
  }
  return {{"result", FromVariant(result)}};
}

json HostSession::Save(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(com::E_HANDLE, "no such object: " + object.dump());
  ComPtr<com::IPersistPropertyBag> persist;
  if (HRESULT hr = Ask(*hosted->dispatch, &persist); com::Failed(hr)) {
    return Error(hr, "the object does not save to a property bag");
  }
  com::MemoryPropertyBag bag;
  if (HRESULT hr = persist->Save(&bag, true, true); com::Failed(hr)) {
    return Error(hr, "saving failed");
  }
  json properties = json::object();
  for (const auto& [name, value] : bag.values()) properties[name] = FromVariant(value);
  return {{"properties", std::move(properties)}};
}

json HostSession::Load(const json& load) {
  if (!load.is_object() || !load.contains("object") || !load.contains("properties") ||
      !load["properties"].is_object()) {
    return Error(com::E_INVALIDARG, "\"load\" takes \"object\" and \"properties\"");
  }
  Hosted* hosted = Find(load["object"]);
  if (hosted == nullptr) {
    return Error(com::E_HANDLE, "no such object: " + load["object"].dump());
  }
  ComPtr<com::IPersistPropertyBag> persist;
  if (HRESULT hr = Ask(*hosted->dispatch, &persist); com::Failed(hr)) {
    return Error(hr, "the object does not load from a property bag");
  }
  com::MemoryPropertyBag bag;
  for (const auto& [name, value] : load["properties"].items()) {
    const com::Variant v = ToVariant(value);
    bag.Write(name.c_str(), &v);
  }
  if (HRESULT hr = persist->Load(&bag); com::Failed(hr)) return Error(hr, "loading failed");
  return {{"loaded", load["object"]}};
}

json HostSession::Reset(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(com::E_HANDLE, "no such object: " + object.dump());
  ComPtr<com::IPersistPropertyBag> persist;
  HRESULT hr = Ask(*hosted->dispatch, &persist);
  if (com::Succeeded(hr)) hr = persist->InitNew();
  if (com::Failed(hr)) return Error(hr, "the object cannot be reset");
  return {{"reset", object}};
}

json HostSession::Draw(const json& request) {
  Hosted* hosted = Find(request["object"]);
  if (hosted == nullptr) {
    return Error(com::E_HANDLE, "no such object: " + request["object"].dump());
  }
  const json& draw = request["draw"];
  auto side = [&](const char* key) -> int64_t {
    if (!draw.is_object() || !draw.contains(key) || !draw[key].is_number_integer()) return 0;
    return draw[key].get<int64_t>();
  };
  const int64_t width = side("width"), height = side("height");
  if (width < 1 || height < 1 || width > kLargestSurface || height > kLargestSurface) {
    return Error(com::E_INVALIDARG, "\"draw\" takes a width and a height of 1 to 4096");
  }
  ComPtr<com::IControlObject> control;
  if (HRESULT hr = Ask(*hosted->dispatch, &control); com::Failed(hr)) {
    return Error(hr, "the object does not draw");
  }
  com::MemorySurface surface(static_cast<int32_t>(width), static_cast<int32_t>(height),
                             {255, 255, 255});
  const com::RectL bounds{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  if (HRESULT hr = control->Draw(&surface, &bounds); com::Failed(hr)) {
    return Error(hr, "drawing failed");
  }
  std::vector<uint8_t> png = EncodePng(surface);
  if (png.empty()) return Error(com::E_OUTOFMEMORY, "the picture could not be encoded");
  return {{"png", Base64Encode(png)}};
}

json HostSession::Pages(const json& object) {
  Hosted* hosted = Find(object);
  if (hosted == nullptr) return Error(com::E_HANDLE, "no such object: " + object.dump());
  ComPtr<com::ISpecifyPropertyPages> page_list;
  if (HRESULT hr = Ask(*hosted->dispatch, &page_list); com::Failed(hr)) {
    return Error(hr, "the object has no property pages");
  }
  com::CAUUID ids{};
  if (HRESULT hr = page_list->GetPages(&ids); com::Failed(hr)) {
    return Error(hr, "the object did not list its pages");
  }
  std::unique_ptr<com::GUID, decltype(&com::CoTaskMemFree)> owned(ids.elements,
                                                                  &com::CoTaskMemFree);
  json pages = json::array();
  for (com::ULONG i = 0; i < ids.count; ++i) {
    ComPtr<com::IPropertyPageDialog> page;
    HRESULT hr =
        activator_.CreateInstance(ids.elements[i], com::IPropertyPageDialog::kIid, page.put_void());
    com::DialogTemplate dialog;
    com::IUnknown* edited[] = {hosted->dispatch.get()};
    if (com::Succeeded(hr)) hr = page->SetObjects(1, edited);
    if (com::Succeeded(hr)) hr = page->GetDialog(&dialog);
    if (page) page->SetObjects(0, nullptr);
    if (com::Failed(hr)) {
      return Error(hr, "cannot show page " + com::GuidToString(ids.elements[i]));
    }
    json text = json::array();
    for (const auto& item : dialog.items) text.push_back(item.text);
    pages.push_back({{"clsid", com::GuidToString(ids.elements[i])},
                     {"caption", dialog.caption},
                     {"text", std::move(text)}});
  }
  return {{"pages", std::move(pages)}};
}

std::string Serialize(const json& response) {
  return response.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarvona::host
