#include "windows/host/com_control_host.h"

#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

#include <memory>
#include <vector>

#include "host/platform_host.h"
#include "windows/held.h"
#include "windows/host/wide_text.h"

namespace tarvona::host {
namespace {

using windows::Held;

// A VARIANT cleared when it goes.
struct HeldVariant {
  VARIANT v;
  HeldVariant() { VariantInit(&v); }
  ~HeldVariant() { VariantClear(&v); }
  HeldVariant(const HeldVariant&) = delete;
  HeldVariant& operator=(const HeldVariant&) = delete;
};

// A value as a script engine hands it over. What the session could not
// type (null, a boolean, a fraction) goes as VT_NULL, which converts to
// no parameter type, so such calls fail as they do on Linux.
HRESULT ToVariant(const Value& value, VARIANT* out) {
  VariantInit(out);
  switch (value.index()) {
    case 1:
      out->vt = VT_I2;
      out->iVal = std::get<int16_t>(value);
      return S_OK;
    case 2:
      out->vt = VT_I4;
      out->lVal = std::get<int32_t>(value);
      return S_OK;
    case 3:
      out->vt = VT_I8;
      out->llVal = std::get<int64_t>(value);
      return S_OK;
    case 4: {
      std::wstring wide = WideFromUtf8(std::get<std::string>(value));
      BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (text == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      out->bstrVal = text;
      return S_OK;
    }
    default:
      out->vt = VT_NULL;
      return S_OK;
  }
}

// A result as the session reports it: integers and text as they are,
// anything else as the integer or text it converts to, else nothing.
Value FromVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_I2:
      return value.iVal;
    case VT_I4:
      return static_cast<int32_t>(value.lVal);
    case VT_I8:
      return static_cast<int64_t>(value.llVal);
    case VT_BSTR:
      return Utf8FromWide(value.bstrVal, SysStringLen(value.bstrVal));
    case VT_EMPTY:
    case VT_NULL:
      return std::monostate{};
    default:
      break;
  }
  HeldVariant converted;
  // VariantChangeType leaves its source alone; its declaration is older
  // than const.
  auto* source = const_cast<VARIANT*>(&value);
  if (SUCCEEDED(VariantChangeType(&converted.v, source, 0, VT_I4))) {
    return static_cast<int32_t>(converted.v.lVal);
  }
  if (SUCCEEDED(VariantChangeType(&converted.v, source, 0, VT_BSTR))) {
    return Utf8FromWide(converted.v.bstrVal, SysStringLen(converted.v.bstrVal));
  }
  return std::monostate{};
}

ValueType TypeOfParam(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
      return ValueType::kI2;
    case VT_I4:
    case VT_INT:
      return ValueType::kI4;
    case VT_I8:
      return ValueType::kI8;
    case VT_BSTR:
      return ValueType::kBstr;
    default:
      return ValueType::kEmpty;
  }
}

class ComControl final : public HostedControl {
 public:
  explicit ComControl(IDispatch* dispatch) : dispatch_(dispatch) {}
  ~ComControl() override { dispatch_->Release(); }
  ComControl(const ComControl&) = delete;
  ComControl& operator=(const ComControl&) = delete;

  Status DispIdOf(const std::string& name, int32_t* dispid) override {
    std::wstring wide = WideFromUtf8(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    *dispid = id;
    return hr;
  }

  Status Invoke(int32_t dispid, std::span<const Value> args, Value* result,
                uint32_t* arg_error) override {
    // DISPPARAMS holds the arguments last first.
    const size_t count = args.size();
    std::vector<VARIANT> reversed(count);
    for (auto& v : reversed) VariantInit(&v);
    struct Clear {
      std::vector<VARIANT>& all;
      ~Clear() {
        for (auto& v : all) VariantClear(&v);
      }
    } clear{reversed};
    for (size_t i = 0; i < count; ++i) {
      if (HRESULT hr = ToVariant(args[i], &reversed[count - 1 - i]); FAILED(hr)) return hr;
    }
    DISPPARAMS params{count == 0 ? nullptr : reversed.data(), nullptr, static_cast<UINT>(count), 0};
    HeldVariant out;
    EXCEPINFO exception{};
    UINT bad = 0;
    HRESULT hr = dispatch_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                   &out.v, &exception, &bad);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
      // Invoke counts the failed argument in DISPPARAMS' order.
      *arg_error = bad < count ? static_cast<uint32_t>(count - 1 - bad) : bad;
      return hr;
    }
    *result = FromVariant(out.v);
    return S_OK;
  }

  std::optional<MethodInfo> Describe(int32_t dispid) override {
    Held<ITypeInfo> info;
    if (FAILED(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()))) return std::nullopt;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return std::nullopt;
    const UINT functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functions; ++i) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(i, &func))) continue;
      std::optional<MethodInfo> method;
      if (func->memid == dispid) method = Read(*info.get(), *func);
      info->ReleaseFuncDesc(func);
      if (method) return method;
    }
    return std::nullopt;
  }

  std::optional<int32_t> AsInt32(const Value& value) override {
    HeldVariant from, to;
    if (FAILED(ToVariant(value, &from.v)) || FAILED(VariantChangeType(&to.v, &from.v, 0, VT_I4))) {
      return std::nullopt;
    }
    return static_cast<int32_t>(to.v.lVal);
  }

 private:
  static std::optional<MethodInfo> Read(ITypeInfo& info, const FUNCDESC& func) {
    std::vector<BSTR> names(static_cast<size_t>(func.cParams) + 1, nullptr);
    UINT got = 0;
    struct Free {
      std::vector<BSTR>& all;
      ~Free() {
        for (BSTR name : all) SysFreeString(name);
      }
    } free{names};
    if (FAILED(info.GetNames(func.memid, names.data(), static_cast<UINT>(names.size()), &got)) ||
        got == 0) {
      return std::nullopt;
    }
    MethodInfo method;
    method.name = Utf8FromWide(names[0], SysStringLen(names[0]));
    method.result = TypeOfParam(func.elemdescFunc.tdesc.vt);
    for (SHORT p = 0; p < func.cParams; ++p) {
      const size_t n = static_cast<size_t>(p) + 1;
      std::string name = n < got ? Utf8FromWide(names[n], SysStringLen(names[n])) : std::string();
      method.params.push_back({std::move(name), TypeOfParam(func.lprgelemdescParam[p].tdesc.vt)});
    }
    return method;
  }

  IDispatch* dispatch_;
};

class ApartmentControls final : public PlatformControls {
 public:
  ControlHost& host() override { return host_; }
  void Pump() override { host_.PumpMessages(); }

 private:
  ComControlHost host_;
};

}  // namespace

std::unique_ptr<PlatformControls> OpenPlatformControls() {
  return std::make_unique<ApartmentControls>();
}

ComControlHost::ComControlHost() : joined_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

ComControlHost::~ComControlHost() {
  if (SUCCEEDED(joined_)) {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
}

Outcome ComControlHost::Create(const std::string& prog_id, const std::string*, int,
                               std::unique_ptr<HostedControl>* control) {
  if (FAILED(joined_)) return {joined_, "COM is not available"};
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(WideFromUtf8(prog_id).c_str(), &clsid);
  // An unknown ProgID is a class that is not registered, as on Linux.
  if (hr == CO_E_CLASSSTRING) hr = REGDB_E_CLASSNOTREG;
  IDispatch* dispatch = nullptr;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&dispatch));
  }
  if (hr == REGDB_E_CLASSNOTREG) return {hr, "class not registered: " + prog_id};
  if (FAILED(hr) || dispatch == nullptr) {
    if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
    CoFreeUnusedLibraries();
    return {hr, "cannot create " + prog_id};
  }
  auto created = std::make_unique<ComControl>(dispatch);
  // The control starts out new, as containers start it.
  Held<IPersistPropertyBag> bag;
  Held<IPersistStreamInit> stream;
  if (SUCCEEDED(dispatch->QueryInterface(IID_IPersistPropertyBag, bag.PutVoid()))) {
    bag->InitNew();
  } else if (SUCCEEDED(dispatch->QueryInterface(IID_IPersistStreamInit, stream.PutVoid()))) {
    stream->InitNew();
  }
  *control = std::move(created);
  return {};
}

void ComControlHost::FreeUnused() {
  if (SUCCEEDED(joined_)) CoFreeUnusedLibraries();
}

void ComControlHost::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace tarvona::host
