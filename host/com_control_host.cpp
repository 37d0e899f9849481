#include "host/com_control_host.h"

#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <wingdi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/platform_host.h"
#include "host/png_writer.h"
#include "host/wide_text.h"
#include "module/control_caller.h"
#include "platform/com_ptr.h"

namespace tarvona::host {
namespace {

using platform::Held;

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
      const OleString wide = OleFromUtf8(std::get<std::string>(value));
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
      return Utf8FromBstr(value.bstrVal);
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
    return Utf8FromBstr(converted.v.bstrVal);
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

// The container's property bag: names and values in the order written.
class MemoryPropertyBag final : public IPropertyBag {
 public:
  MemoryPropertyBag() = default;
  ~MemoryPropertyBag() {
    for (auto& [name, value] : values_) VariantClear(&value);
  }
  MemoryPropertyBag(const MemoryPropertyBag&) = delete;
  MemoryPropertyBag& operator=(const MemoryPropertyBag&) = delete;

  // Lives on the host's stack: references are not counted.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IPropertyBag)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IPropertyBag*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (name == nullptr || value == nullptr) return E_POINTER;
    for (auto& [held, stored] : values_) {
      if (held != name) continue;
      // The caller's VARTYPE asks for a type; VT_EMPTY takes the value as it is.
      const VARTYPE wanted = value->vt;
      VariantInit(value);
      return wanted == VT_EMPTY ? VariantCopy(value, &stored)
                                : VariantChangeType(value, &stored, 0, wanted);
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    if (name == nullptr || value == nullptr) return E_POINTER;
    VARIANT copy;
    VariantInit(&copy);
    if (HRESULT hr = VariantCopy(&copy, value); FAILED(hr)) return hr;
    for (auto& [held, stored] : values_) {
      if (held != name) continue;
      VariantClear(&stored);
      stored = copy;
      return S_OK;
    }
    values_.emplace_back(OleString(name), copy);
    return S_OK;
  }

  const std::vector<std::pair<OleString, VARIANT>>& values() const { return values_; }

 private:
  std::vector<std::pair<OleString, VARIANT>> values_;
};

// A GUID as its braced text.
std::string GuidText(const GUID& guid) {
  OLECHAR text[39];
  if (StringFromGUID2(guid, text, 39) != 39) return {};
  return Utf8FromOle(text, 38);
}

// A white 32-bit surface of the host's own, drawn into and read back.
class Surface {
 public:
  Surface(int32_t width, int32_t height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    if (dc_ != nullptr) bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap_ == nullptr) return;
    bits_ = static_cast<uint8_t*>(bits);
    std::fill(bits_, bits_ + Size(), 0xFF);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Surface() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  HDC dc() const { return bits_ != nullptr ? dc_ : nullptr; }
  // Its pixels as 8-bit RGB rows.
  std::vector<uint8_t> Rgb() const {
    std::vector<uint8_t> rgb;
    rgb.reserve(Size() / 4 * 3);
    for (size_t at = 0; at < Size(); at += 4) {
      rgb.insert(rgb.end(), {bits_[at + 2], bits_[at + 1], bits_[at]});  // BGRA
    }
    return rgb;
  }

 private:
  size_t Size() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4; }

  int32_t width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint8_t* bits_ = nullptr;
};

class ComControl final : public HostedControl {
 public:
  explicit ComControl(IDispatch* dispatch) : dispatch_(dispatch) {}
  ~ComControl() override { dispatch_->Release(); }
  ComControl(const ComControl&) = delete;
  ComControl& operator=(const ComControl&) = delete;

  Status DispIdOf(const std::string& name, int32_t* dispid) override {
    OleString wide = OleFromUtf8(name);
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

  Outcome Save(Properties* properties) override {
    Held<IPersistPropertyBag> persist;
    if (HRESULT hr = dispatch_->QueryInterface(IID_IPersistPropertyBag, persist.PutVoid());
        FAILED(hr)) {
      return {hr, "the object does not save to a property bag"};
    }
    MemoryPropertyBag bag;
    if (HRESULT hr = persist->Save(&bag, TRUE, TRUE); FAILED(hr)) return {hr, "saving failed"};
    for (const auto& [name, value] : bag.values()) {
      properties->emplace_back(Utf8FromOle(name.data(), name.size()), FromVariant(value));
    }
    return {};
  }

  Outcome Load(const Properties& properties) override {
    Held<IPersistPropertyBag> persist;
    if (HRESULT hr = dispatch_->QueryInterface(IID_IPersistPropertyBag, persist.PutVoid());
        FAILED(hr)) {
      return {hr, "the object does not load from a property bag"};
    }
    MemoryPropertyBag bag;
    for (const auto& [name, value] : properties) {
      HeldVariant v;
      if (HRESULT hr = ToVariant(value, &v.v); FAILED(hr)) return {hr, "loading failed"};
      bag.Write(OleFromUtf8(name).c_str(), &v.v);
    }
    if (HRESULT hr = persist->Load(&bag, nullptr); FAILED(hr)) return {hr, "loading failed"};
    return {};
  }

  Outcome Reset() override {
    Held<IPersistPropertyBag> persist;
    HRESULT hr = dispatch_->QueryInterface(IID_IPersistPropertyBag, persist.PutVoid());
    if (SUCCEEDED(hr)) hr = persist->InitNew();
    if (FAILED(hr)) return {hr, "the object cannot be reset"};
    return {};
  }

  Outcome Draw(int32_t width, int32_t height, std::vector<uint8_t>* png) override {
    Held<IViewObject2> view;
    if (HRESULT hr = dispatch_->QueryInterface(IID_IViewObject2, view.PutVoid()); FAILED(hr)) {
      return {hr, "the object does not draw"};
    }
    Surface surface(width, height);
    if (surface.dc() == nullptr) return {E_OUTOFMEMORY, "no surface to draw on"};
    const RECTL bounds{0, 0, width, height};
    if (HRESULT hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, surface.dc(),
                                &bounds, nullptr, nullptr, 0);
        FAILED(hr)) {
      return {hr, "drawing failed"};
    }
    *png = EncodePng(width, height, surface.Rgb());
    if (png->empty()) return {E_OUTOFMEMORY, "the picture could not be encoded"};
    return {};
  }

  Outcome Pages(std::vector<PropertyPageText>* pages) override {
    Held<ISpecifyPropertyPages> page_list;
    if (HRESULT hr = dispatch_->QueryInterface(IID_ISpecifyPropertyPages, page_list.PutVoid());
        FAILED(hr)) {
      return {hr, "the object has no property pages"};
    }
    CAUUID ids{};
    if (HRESULT hr = page_list->GetPages(&ids); FAILED(hr)) {
      return {hr, "the object did not list its pages"};
    }
    std::unique_ptr<GUID, decltype(&CoTaskMemFree)> owned(ids.pElems, &CoTaskMemFree);
    for (ULONG i = 0; i < ids.cElems; ++i) {
      Held<IPropertyPage> page;
      HRESULT hr = CoCreateInstance(ids.pElems[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                    page.PutVoid());
      IUnknown* edited[] = {dispatch_};
      PROPPAGEINFO info{};
      if (SUCCEEDED(hr)) hr = page->SetObjects(1, edited);
      if (SUCCEEDED(hr)) hr = page->GetPageInfo(&info);
      if (page) page->SetObjects(0, nullptr);
      PropertyPageText text{GuidText(ids.pElems[i]), {}, {}};
      auto take = [](LPOLESTR held) {
        std::string utf8 = held == nullptr ? std::string()
                                           : Utf8FromOle(held, std::char_traits<OLECHAR>::length(held));
        CoTaskMemFree(held);
        return utf8;
      };
      text.caption = take(info.pszTitle);
      std::string line = take(info.pszDocString);
      CoTaskMemFree(info.pszHelpFile);
      if (FAILED(hr)) return {hr, "cannot show page " + text.clsid};
      if (!line.empty()) text.text.push_back(std::move(line));
      pages->push_back(std::move(text));
    }
    return {};
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
    method.name = Utf8FromBstr(names[0]);
    method.result = TypeOfParam(func.elemdescFunc.tdesc.vt);
    for (SHORT p = 0; p < func.cParams; ++p) {
      const size_t n = static_cast<size_t>(p) + 1;
      std::string name = n < got ? Utf8FromBstr(names[n]) : std::string();
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

Outcome ComControlHost::Create(const std::string& prog_id, const std::string* origin, int hangup,
                               std::unique_ptr<HostedControl>* control) {
  if (FAILED(joined_)) return {joined_, "COM is not available"};
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(OleFromUtf8(prog_id).c_str(), &clsid);
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
  // The page it works for, which the control's dialogs name.
  Held<IControlCaller> caller;
  if (origin != nullptr &&
      SUCCEEDED(dispatch->QueryInterface(IID_IControlCaller, caller.PutVoid()))) {
    caller->SetCaller(OleFromUtf8(*origin).c_str(), hangup);
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
