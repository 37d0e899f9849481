// The control object: the dispatch interface over the core's control, and
// what a control container needs (type information, persistence of the
// version and extent, one property page, a 30 x 30 picture). It has no
// window of its own and fires no events.
#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "module/com_objects.h"
#include "module/control_caller.h"
#include "control/method_table.h"
#include "control/tarvona_control.h"
#include "module/ocx_module.h"

namespace tarvona::ocx {
namespace {

static_assert(AutomationHresult(CallStatus::kMemberNotFound) == DISP_E_MEMBERNOTFOUND &&
              AutomationHresult(CallStatus::kBadParamCount) == DISP_E_BADPARAMCOUNT &&
              AutomationHresult(CallStatus::kTypeMismatch) == DISP_E_TYPEMISMATCH &&
              AutomationHresult(CallStatus::kOverflow) == DISP_E_OVERFLOW &&
              AutomationHresult(CallStatus::kOutOfMemory) == E_OUTOFMEMORY &&
              AutomationHresult(CallStatus::kUnexpected) == E_UNEXPECTED);

using identity::PixelsToHimetric;
constexpr LONG kDefaultExtent = PixelsToHimetric(identity::kPictureSide);

// Arguments reach the core already converted to their parameters' types
// (CoerceArgument), so the core's conversion only passes them on.
CallStatus AlreadyConverted(const Value& from, ValueType to, Value& out) {
  if (to != ValueType::kEmpty && TypeOf(from) != to) return CallStatus::kTypeMismatch;
  out = from;
  return CallStatus::kOk;
}

VARTYPE VarTypeOf(ValueType type) { return static_cast<VARTYPE>(type); }

// An empty list of connection points: the control fires no events.
class NoConnectionPoints final : public RefCounted<NoConnectionPoints, IEnumConnectionPoints> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    static constexpr InterfaceEntry<NoConnectionPoints> kTable[] = {
        {&IID_IUnknown, [](NoConnectionPoints* p) -> void* { return p; }},
        {&IID_IEnumConnectionPoints, [](NoConnectionPoints* p) -> void* { return p; }},
    };
    return QueryFromTable(this, kTable, iid, out);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (count > 0 && points == nullptr) return E_POINTER;
    if (fetched != nullptr) *fetched = 0;
    return count == 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) NoConnectionPoints;
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
};

class ControlObject final
    : public RefCounted<ControlObject, IDispatch, IProvideClassInfo2, IOleObject, IOleControl,
                        IOleInPlaceObject, IViewObject2, IPersistPropertyBag, IPersistStreamInit,
                        ISpecifyPropertyPages, IConnectionPointContainer, IControlCaller> {
 public:
  ControlObject() : control_(Environment().loader, Environment().crypto, Environment().picker) {}
  ~ControlObject() = default;
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    using Self = ControlObject;
    static constexpr InterfaceEntry<Self> kTable[] = {
        {&IID_IUnknown, [](Self* p) -> void* { return static_cast<IDispatch*>(p); }},
        {&IID_IDispatch, [](Self* p) -> void* { return static_cast<IDispatch*>(p); }},
        {&kDispatchIid, [](Self* p) -> void* { return static_cast<IDispatch*>(p); }},
        {&IID_IProvideClassInfo,
         [](Self* p) -> void* { return static_cast<IProvideClassInfo2*>(p); }},
        {&IID_IProvideClassInfo2,
         [](Self* p) -> void* { return static_cast<IProvideClassInfo2*>(p); }},
        {&IID_IOleObject, [](Self* p) -> void* { return static_cast<IOleObject*>(p); }},
        {&IID_IOleControl, [](Self* p) -> void* { return static_cast<IOleControl*>(p); }},
        {&IID_IOleWindow, [](Self* p) -> void* { return static_cast<IOleInPlaceObject*>(p); }},
        {&IID_IOleInPlaceObject,
         [](Self* p) -> void* { return static_cast<IOleInPlaceObject*>(p); }},
        {&IID_IViewObject, [](Self* p) -> void* { return static_cast<IViewObject2*>(p); }},
        {&IID_IViewObject2, [](Self* p) -> void* { return static_cast<IViewObject2*>(p); }},
        {&IID_IPersist, [](Self* p) -> void* { return static_cast<IPersistStreamInit*>(p); }},
        {&IID_IPersistPropertyBag,
         [](Self* p) -> void* { return static_cast<IPersistPropertyBag*>(p); }},
        {&IID_IPersistStreamInit,
         [](Self* p) -> void* { return static_cast<IPersistStreamInit*>(p); }},
        {&IID_ISpecifyPropertyPages,
         [](Self* p) -> void* { return static_cast<ISpecifyPropertyPages*>(p); }},
        {&IID_IConnectionPointContainer,
         [](Self* p) -> void* { return static_cast<IConnectionPointContainer*>(p); }},
        {&IID_IControlCaller, [](Self* p) -> void* { return static_cast<IControlCaller*>(p); }},
    };
    return QueryFromTable(this, kTable, iid, out);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return TypeInfoOf(kDispatchIid, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    // Names come from the method table, so every locale (0 included, as
    // some script engines pass) finds them.
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const MethodInfo* method = FindMethod(AsciiName(names[0]));
    if (method == nullptr) return DISP_E_UNKNOWNNAME;
    ids[0] = method->dispid;
    HRESULT hr = S_OK;
    // Parameter names give their positions.
    for (UINT i = 1; i < count; ++i) {
      const int32_t position = FindParam(*method, AsciiName(names[i]));
      if (position < 0) hr = DISP_E_UNKNOWNNAME;
      ids[i] = position < 0 ? DISPID_UNKNOWN : static_cast<DISPID>(position);
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_err) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const MethodInfo* method = FindMethod(static_cast<int32_t>(member));
    // Methods only; script engines may call a method as a property get.
    if (method == nullptr || (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
      return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr)) return E_POINTER;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != method->params.size()) return DISP_E_BADPARAMCOUNT;
    try {
      return CallMethod(*method, *params, result, arg_err);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return TypeInfoOf(kControlClsid, LOCALE_USER_DEFAULT, info);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = kEventsIid;
    return S_OK;
  }

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    site_.Reset(site);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
    if (site == nullptr) return E_POINTER;
    *site = site_.get();
    if (*site != nullptr) (*site)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override {
    if (data != nullptr) *data = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent,
                                   LPCRECT) override {
    switch (verb) {
      case OLEIVERB_PROPERTIES:
        return ShowPropertyPages(parent);
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_OPEN:
      case OLEIVERB_HIDE:
      case OLEIVERB_UIACTIVATE:
      case OLEIVERB_INPLACEACTIVATE:
        // Invisible at run time: nothing to show or activate.
        return S_OK;
      default:
        return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override {
    return OleRegEnumVerbs(kControlClsid, verbs);
  }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = TaskMemoryCopy(LoadModuleString(identity::kIdsControl));
    return *name == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size == nullptr) return E_POINTER;
    if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    extent_ = *size;
    dirty_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size == nullptr) return E_POINTER;
    *size = extent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override {
    if (!advise_holder_ && FAILED(CreateOleAdviseHolder(advise_holder_.Put()))) {
      return E_OUTOFMEMORY;
    }
    return advise_holder_->Advise(sink, connection);
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override {
    if (!advise_holder_) return OLE_E_NOCONNECTION;
    return advise_holder_->Unadvise(connection);
  }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override {
    if (advises == nullptr) return E_POINTER;
    *advises = nullptr;
    if (!advise_holder_) return S_OK;
    return advise_holder_->EnumAdvise(advises);
  }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
    if (status == nullptr) return E_POINTER;
    *status = identity::kControlMiscStatus;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleControl: no mnemonics, no ambient properties of interest.
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override {
    if (info == nullptr) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL) override { return S_OK; }

  // IOleInPlaceObject: windowless, so there is no window to give.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = nullptr;
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
    if (position == nullptr) return E_POINTER;
    position_ = *position;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

  // IViewObject2
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC target,
                                 LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                 ULONG_PTR) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (target == nullptr || bounds == nullptr) return E_INVALIDARG;
    OnDraw(target, *bounds);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                        LOGPALETTE** colors) override {
    if (colors != nullptr) *colors = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override {
    view_sink_.Reset(sink);
    view_aspects_ = aspects;
    view_flags_ = flags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override {
    if (aspects != nullptr) *aspects = view_aspects_;
    if (flags != nullptr) *flags = view_flags_;
    if (sink != nullptr) {
      *sink = view_sink_.get();
      if (*sink != nullptr) (*sink)->AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // IPersist, IPersistPropertyBag, IPersistStreamInit
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = kControlClsid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitNew() override {
    ResetState();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override {
    if (bag == nullptr) return E_POINTER;
    Persisted values = Current();
    auto read = [&](LPCOLESTR name, LONG& value, const LONG* fallback) {
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_I4;
      if (SUCCEEDED(bag->Read(name, &v, log)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
        value = V_I4(&v);
      } else if (fallback != nullptr) {
        value = *fallback;
      }
      VariantClear(&v);
    };
    const LONG version = static_cast<LONG>(identity::kControlVersion);
    read(OLESTR("_Version"), values.version, &version);
    read(OLESTR("_ExtentX"), values.extent_x, nullptr);
    read(OLESTR("_ExtentY"), values.extent_y, nullptr);
    read(OLESTR("_StockProps"), values.stock_properties, nullptr);
    Apply(values);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) override {
    if (bag == nullptr) return E_POINTER;
    const Persisted values = ToSave();
    HRESULT hr = S_OK;
    auto write = [&](LPCOLESTR name, LONG value) {
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_I4;
      V_I4(&v) = value;
      const HRESULT written = bag->Write(name, &v);
      if (FAILED(written) && SUCCEEDED(hr)) hr = written;
    };
    write(OLESTR("_Version"), values.version);
    write(OLESTR("_ExtentX"), values.extent_x);
    write(OLESTR("_ExtentY"), values.extent_y);
    write(OLESTR("_StockProps"), values.stock_properties);
    if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override {
    if (stream == nullptr) return E_POINTER;
    std::array<LONG, 4> data{};
    ULONG read = 0;
    HRESULT hr = stream->Read(data.data(), sizeof data, &read);
    if (FAILED(hr)) return hr;
    if (read != sizeof data) return E_FAIL;
    Apply({data[0], data[1], data[2], data[3]});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) override {
    if (stream == nullptr) return E_POINTER;
    const Persisted values = ToSave();
    const std::array<LONG, 4> data = {values.version, values.extent_x, values.extent_y,
                                      values.stock_properties};
    ULONG written = 0;
    HRESULT hr = stream->Write(data.data(), sizeof data, &written);
    if (FAILED(hr)) return hr;
    if (written != sizeof data) return STG_E_MEDIUMFULL;
    if (clear_dirty) dirty_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
    if (size == nullptr) return E_POINTER;
    size->QuadPart = 4 * sizeof(LONG);
    return S_OK;
  }

  // ISpecifyPropertyPages: the one page.
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override {
    if (pages == nullptr) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) return E_OUTOFMEMORY;
    pages->pElems[0] = kPageClsid;
    pages->cElems = 1;
    return S_OK;
  }

  // IConnectionPointContainer: the control fires no events, so none.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
    if (points == nullptr) return E_POINTER;
    *points = new (std::nothrow) NoConnectionPoints;
    return *points == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    return CONNECT_E_NOCONNECTION;
  }

  // IControlCaller
  HRESULT STDMETHODCALLTYPE SetCaller(LPCOLESTR requester, LONG_PTR hangup) override {
    if (requester == nullptr) return E_POINTER;
    const size_t length = std::char_traits<OLECHAR>::length(requester);
    control_.SetCaller(ToAnsi(requester, length), static_cast<int>(hangup));
    return S_OK;
  }

 private:
  // The four persisted values, in the order they are exchanged.
  struct Persisted {
    LONG version;
    LONG extent_x;
    LONG extent_y;
    LONG stock_properties;
  };

  static std::string AsciiName(const OLECHAR* name) {
    std::string ascii;
    for (; name != nullptr && *name != 0; ++name) {
      // No method or parameter name has other characters.
      ascii.push_back(*name < 0x80 ? static_cast<char>(*name) : '\x7f');
    }
    return ascii;
  }

  HRESULT CallMethod(const MethodInfo& method, const DISPPARAMS& params, VARIANT* result,
                     UINT* arg_err) {
    const UINT count = params.cArgs;
    std::vector<Value> args(count);
    for (UINT p = 0; p < count; ++p) {
      // The caller lists its arguments last first.
      const VARIANT& given = params.rgvarg[count - 1 - p];
      VARIANT converted;
      const HRESULT hr = CoerceArgument(given, VarTypeOf(method.params[p].type), converted);
      if (FAILED(hr)) {
        if (arg_err != nullptr) *arg_err = count - 1 - p;
        return hr;
      }
      switch (V_VT(&converted)) {
        case VT_I2:
          args[p] = static_cast<int16_t>(V_I2(&converted));
          break;
        case VT_I4:
          args[p] = static_cast<int32_t>(V_I4(&converted));
          break;
        case VT_BSTR:
          args[p] = ToAnsi(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
          break;
        default:
          break;
      }
      VariantClear(&converted);
    }
    Value value;
    uint32_t failed_at = 0;
    const CallStatus status =
        tarvona::Invoke(control_, method.dispid, args, value, AlreadyConverted, &failed_at);
    if (status != CallStatus::kOk) {
      if (arg_err != nullptr &&
          (status == CallStatus::kTypeMismatch || status == CallStatus::kOverflow)) {
        *arg_err = count - 1 - failed_at;
      }
      return AutomationHresult(status);
    }
    if (result == nullptr) return S_OK;
    VariantInit(result);
    if (const auto* number = std::get_if<int32_t>(&value)) {
      V_VT(result) = VT_I4;
      V_I4(result) = *number;
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      BSTR bstr = ToBstr(*text);
      if (bstr == nullptr) return E_OUTOFMEMORY;
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = bstr;
    }
    return S_OK;
  }

  Persisted Current() const {
    return {static_cast<LONG>(loaded_version_), extent_.cx, extent_.cy, 0};
  }
  // Saving always writes the current version, whatever was loaded. No
  // stock property is used, so the mask is 0 and nothing follows it.
  Persisted ToSave() const {
    return {static_cast<LONG>(identity::kControlVersion), extent_.cx, extent_.cy, 0};
  }
  void Apply(const Persisted& values) {
    loaded_version_ = static_cast<DWORD>(values.version);
    extent_ = {values.extent_x, values.extent_y};
    dirty_ = false;
  }

  // Reset: values with a default take it (the version); the extent stays.
  void ResetState() {
    loaded_version_ = identity::kControlVersion;
    InvalidateControl();
  }

  void InvalidateControl() {
    if (view_sink_) view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
  }

  // Asks the container for a size in pixels; the answer is not looked at.
  void SetControlSize(LONG cx, LONG cy) {
    extent_ = {PixelsToHimetric(cx), PixelsToHimetric(cy)};
    dirty_ = true;
    if (!site_) return;
    Held<IOleInPlaceSite> in_place;
    if (SUCCEEDED(
            site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(in_place.Put())))) {
      RECT wanted = {position_.left, position_.top, position_.left + cx, position_.top + cy};
      in_place->OnPosRectChange(&wanted);
    } else {
      site_->RequestNewObjectLayout();
    }
  }

  // The picture at the target's origin, and the size it wants.
  void OnDraw(HDC target, const RECTL& bounds) {
    constexpr LONG kSide = identity::kPictureSide;
    if (bounds.bottom - bounds.top != kSide || bounds.right - bounds.left != kSide) {
      SetControlSize(kSide, kSide);
    }
    DrawPicture(target);
  }

  HRESULT ShowPropertyPages(HWND parent) {
    return ShowPropertyFrame(parent, static_cast<IDispatch*>(this));
  }

  ModuleLock lock_;  // first in, last out: the module stays while any part lives
  CTarvonaActiveXCtrl control_;
  Held<IOleClientSite> site_;
  Held<IOleAdviseHolder> advise_holder_;
  Held<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0;
  DWORD view_flags_ = 0;
  SIZEL extent_ = {kDefaultExtent, kDefaultExtent};
  RECT position_ = {0, 0, 0, 0};
  DWORD loaded_version_ = 0;
  bool dirty_ = false;
};

}  // namespace

IUnknown* CreateControlObject() {
  try {
    return static_cast<IDispatch*>(new ControlObject);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace tarvona::ocx
