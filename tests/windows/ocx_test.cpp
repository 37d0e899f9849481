// TarvonaActiveX.ocx in a small container of our own: registration on the
// registry, creation through COM, the dispatch interface's coercion and
// errors, persistence, drawing, the property page and unloading.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/control_identity.h"
#include "control/method_metadata.h"

namespace {

using namespace tarvona;

constexpr GUID kControlClsid = identity::ToGuid<GUID>(identity::kControlClsid);
constexpr GUID kPageClsid = identity::ToGuid<GUID>(identity::kPageClsid);
constexpr GUID kEventsIid = identity::ToGuid<GUID>(identity::kEventsIid);
constexpr LONG kPictureExtent = (30 * 2540 + 48) / 96;  // 30 pixels in HIMETRIC

// An interface pointer released when dropped.
template <typename T>
struct Ptr {
  T* p = nullptr;
  Ptr() = default;
  ~Ptr() { reset(); }
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  void reset() {
    if (p != nullptr) p->Release();
    p = nullptr;
  }
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p);
  }
  T* operator->() const { return p; }
};

std::wstring Wide(std::string_view s) { return std::wstring(s.begin(), s.end()); }

std::wstring GuidText(const GUID& guid) {
  wchar_t text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

// The module as the tests load it: by its short name, as the registration
// record names it, so COM's loads and ours share one module.
struct Module {
  HMODULE handle = nullptr;
  std::wstring short_path;
  HRESULT(STDAPICALLTYPE* register_server)() = nullptr;
  HRESULT(STDAPICALLTYPE* unregister_server)() = nullptr;
  HRESULT(STDAPICALLTYPE* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* can_unload_now)() = nullptr;
};
Module g_module;

template <typename F>
void Bind(F& f, const char* name) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_module.handle, name)));
}

class OcxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(OleInitialize(nullptr), S_OK);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::filesystem::path ocx =
        std::filesystem::path(exe).parent_path().parent_path() / L"TarvonaActiveX.ocx";
    wchar_t short_path[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(ocx.c_str(), short_path, MAX_PATH), 0u) << ocx;
    g_module.short_path = short_path;
    g_module.handle = LoadLibraryW(short_path);
    ASSERT_NE(g_module.handle, nullptr);
    Bind(g_module.register_server, "DllRegisterServer");
    Bind(g_module.unregister_server, "DllUnregisterServer");
    Bind(g_module.get_class_object, "DllGetClassObject");
    Bind(g_module.can_unload_now, "DllCanUnloadNow");
    ASSERT_NE(g_module.can_unload_now, nullptr);
    // Twice: a second registration replaces, nothing accumulates.
    ASSERT_EQ(g_module.register_server(), S_OK);
    ASSERT_EQ(g_module.register_server(), S_OK);
  }
  void TearDown() override { OleUninitialize(); }
};

// A new object from the module's own class object.
template <typename T>
HRESULT Create(const GUID& clsid, REFIID iid, Ptr<T>& out) {
  Ptr<IClassFactory> factory;
  HRESULT hr = g_module.get_class_object(clsid, IID_IClassFactory, factory.put());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, out.put());
}

// The default value (or `name`) of a key under HKEY_CLASSES_ROOT.
std::optional<std::wstring> RegistryText(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[512];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

TEST(OcxRegistration, RecordAsRegistered) {
  const std::wstring control = L"CLSID\\" + GuidText(kControlClsid);
  const std::wstring page = L"CLSID\\" + GuidText(kPageClsid);
  const std::wstring prog_id = Wide(identity::kControlProgId);
  const std::wstring& path = g_module.short_path;
  struct Row {
    std::wstring key;
    const wchar_t* name;
    std::optional<std::wstring> data;  // nullopt: must be absent
  };
  const Row rows[] = {
      {prog_id, nullptr, L"TarvonaActiveX Control"},
      {prog_id + L"\\CLSID", nullptr, GuidText(kControlClsid)},
      {control, nullptr, L"TarvonaActiveX Control"},
      {control + L"\\ProgID", nullptr, prog_id},
      {control + L"\\InprocServer32", nullptr, path},
      {control + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {control + L"\\ToolboxBitmap32", nullptr, path + L", 202"},
      {control + L"\\MiscStatus", nullptr, L"0"},
      {control + L"\\MiscStatus\\1", nullptr, L"132497"},
      {control + L"\\Control", nullptr, L""},
      {control + L"\\TypeLib", nullptr, L"{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}"},
      {control + L"\\Version", nullptr, L"1.0"},
      {page, nullptr, L"TarvonaActiveX Property Page"},
      {page + L"\\InprocServer32", nullptr, path},
      {page + L"\\InprocServer32", L"ThreadingModel", std::nullopt},
      {page + L"\\ProgID", nullptr, std::nullopt},
      {Wide(identity::kPageProgId), nullptr, std::nullopt},
      {control + L"\\Insertable", nullptr, std::nullopt},
      {L"TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0", nullptr,
       L"Tarvona ActiveX Control module"},
      {L"Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", L"409",
       L"Controls safely scriptable!"},
      {L"Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}", L"409",
       L"Controls safely initializable from persistent data!"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RegistryText(row.key, row.name), row.data)
        << std::string(row.key.begin(), row.key.end());
  }
  for (const wchar_t* catid :
       {L"{7DD95801-9882-11CF-9FA9-00AA006C42C4}", L"{7DD95802-9882-11CF-9FA9-00AA006C42C4}"}) {
    EXPECT_TRUE(KeyExists(control + L"\\Implemented Categories\\" + catid));
  }
}

TEST(OcxRegistration, ClassObjects) {
  Ptr<IUnknown> unknown;
  EXPECT_EQ(g_module.get_class_object(kEventsIid, IID_IClassFactory, unknown.put()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unknown.p, nullptr);
  // Through COM and the ProgID, as a host finds it.
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(Wide(identity::kControlProgId).c_str(), &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kControlClsid));
  Ptr<IDispatch> control;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.put()),
            S_OK);
  Ptr<IPropertyPage> page;
  EXPECT_EQ(
      CoCreateInstance(kPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.put()),
      S_OK);
}

TEST(OcxControl, Interfaces) {
  Ptr<IUnknown> control;
  ASSERT_EQ(Create(kControlClsid, IID_IUnknown, control), S_OK);
  const IID offered[] = {IID_IDispatch,
                         identity::ToGuid<GUID>(identity::kDispatchIid),
                         IID_IProvideClassInfo,
                         IID_IProvideClassInfo2,
                         IID_IOleObject,
                         IID_IOleControl,
                         IID_IOleWindow,
                         IID_IOleInPlaceObject,
                         IID_IViewObject,
                         IID_IViewObject2,
                         IID_IPersist,
                         IID_IPersistPropertyBag,
                         IID_IPersistStreamInit,
                         IID_ISpecifyPropertyPages,
                         IID_IConnectionPointContainer};
  for (const IID& iid : offered) {
    Ptr<IUnknown> face;
    EXPECT_EQ(control->QueryInterface(iid, face.put()), S_OK)
        << std::string(GuidText(iid).begin(), GuidText(iid).end());
  }
  for (const IID& iid : {IID_IPersistStorage, IID_IOleInPlaceActiveObject, IID_IClassFactory}) {
    Ptr<IUnknown> face;
    EXPECT_EQ(control->QueryInterface(iid, face.put()), E_NOINTERFACE);
    EXPECT_EQ(face.p, nullptr);
  }

  Ptr<IOleObject> ole;
  ASSERT_EQ(control->QueryInterface(IID_IOleObject, ole.put()), S_OK);
  DWORD status = 0;
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 0x20591u);
  LPOLESTR name = nullptr;
  ASSERT_EQ(ole->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
  EXPECT_STREQ(name, L"TarvonaActiveX Control");
  CoTaskMemFree(name);

  Ptr<IProvideClassInfo2> class_info;
  ASSERT_EQ(control->QueryInterface(IID_IProvideClassInfo2, class_info.put()), S_OK);
  GUID events{};
  EXPECT_EQ(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
  EXPECT_TRUE(IsEqualGUID(events, kEventsIid));
  Ptr<ITypeInfo> coclass;
  ASSERT_EQ(class_info->GetClassInfo(reinterpret_cast<ITypeInfo**>(coclass.put())), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kControlClsid));
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
            TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
  coclass->ReleaseTypeAttr(attr);

  Ptr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(control->QueryInterface(IID_ISpecifyPropertyPages, pages.put()), S_OK);
  CAUUID list{};
  ASSERT_EQ(pages->GetPages(&list), S_OK);
  ASSERT_EQ(list.cElems, 1u);
  EXPECT_TRUE(IsEqualGUID(list.pElems[0], kPageClsid));
  CoTaskMemFree(list.pElems);

  Ptr<IConnectionPointContainer> points;
  ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, points.put()), S_OK);
  Ptr<IConnectionPoint> point;
  EXPECT_EQ(
      points->FindConnectionPoint(kEventsIid, reinterpret_cast<IConnectionPoint**>(point.put())),
      CONNECT_E_NOCONNECTION);
  Ptr<IEnumConnectionPoints> all;
  ASSERT_EQ(points->EnumConnectionPoints(reinterpret_cast<IEnumConnectionPoints**>(all.put())),
            S_OK);
  IConnectionPoint* next = nullptr;
  ULONG fetched = 7;
  EXPECT_EQ(all->Next(1, &next, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
}

// The registered type library and the method table describe the same
// interface; names resolve in every locale, whatever their case.
TEST(OcxControl, NamesAndTypeLibrary) {
  Ptr<IDispatch> control;
  ASSERT_EQ(Create(kControlClsid, IID_IDispatch, control), S_OK);
  Ptr<ITypeInfo> info;
  ASSERT_EQ(control->GetTypeInfo(0, 0, reinterpret_cast<ITypeInfo**>(info.put())), S_OK);
  for (const MethodInfo& method : MethodTable()) {
    std::wstring name = Wide(method.name);
    for (LCID lcid : {LCID{0}, LCID{0x409}}) {
      for (bool upper : {false, true}) {
        std::wstring asked = name;
        if (upper) CharUpperW(asked.data());
        LPOLESTR names[] = {asked.data()};
        DISPID id = 0;
        EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, lcid, &id), S_OK);
        EXPECT_EQ(id, method.dispid) << method.name;
      }
    }
    LPOLESTR names[] = {name.data()};
    MEMBERID id = 0;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << method.name;
    EXPECT_EQ(id, method.dispid);
    BSTR found[9] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(id, found, 9, &count), S_OK);
    ASSERT_EQ(count, method.params.size() + 1) << method.name;
    for (UINT i = 0; i < count; ++i) {
      const std::string_view expected = i == 0 ? method.name : method.params[i - 1].name;
      EXPECT_EQ(std::wstring(found[i]), Wide(expected));
      SysFreeString(found[i]);
    }
  }
  std::wstring unknown = L"NoSuchMethod";
  LPOLESTR names[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  // Parameter names give their positions.
  std::wstring verify = L"verify", hash_type = L"LNGHASHTYPE";
  LPOLESTR with_param[] = {verify.data(), hash_type.data()};
  DISPID ids[2] = {};
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, with_param, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 18);
  EXPECT_EQ(ids[1], 2);
}

VARIANT Long(LONG v) {
  VARIANT r;
  VariantInit(&r);
  V_VT(&r) = VT_I4;
  V_I4(&r) = v;
  return r;
}
VARIANT Double(double v) {
  VARIANT r;
  VariantInit(&r);
  V_VT(&r) = VT_R8;
  V_R8(&r) = v;
  return r;
}
VARIANT Text(const wchar_t* v, UINT length = ~0u) {
  VARIANT r;
  VariantInit(&r);
  V_VT(&r) = VT_BSTR;
  V_BSTR(&r) = length == ~0u ? SysAllocString(v) : SysAllocStringLen(v, length);
  return r;
}

// Calls through IDispatch::Invoke, arguments given in call order.
TEST(OcxControl, InvokeCoercesAndReportsAsWindows) {
  Ptr<IDispatch> control;
  ASSERT_EQ(Create(kControlClsid, IID_IDispatch, control), S_OK);
  struct Case {
    const char* what;
    DISPID dispid;
    std::vector<VARIANT> args;
    HRESULT hr;
    UINT arg_err;  // as the caller sees it: counted from the last argument
    std::optional<LONG> number;
    std::optional<std::wstring> text;
  };
  constexpr UINT kNone = 99;
  std::vector<Case> cases;
  cases.push_back({"plain", 24, {Long(0), Long(0), Text(L"x")}, S_OK, kNone, 1, {}});
  cases.push_back({"text to long", 24, {Text(L"65536"), Long(0), Text(L"x")}, S_OK, kNone, 1, {}});
  cases.push_back(
      {"fraction to long and text", 24, {Double(2.5), Long(0), Double(1.5)}, S_OK, kNone, 1, {}});
  cases.push_back({"wrong session", 2, {Long(12345)}, S_OK, kNone, 1002, {}});
  cases.push_back({"decimal code", 5, {Long(0)}, S_OK, kNone, {}, L"1002"});
  cases.push_back({"data or empty", 15, {Long(0), Long(0), Text(L"AA")}, S_OK, kNone, {}, L""});
  cases.push_back({"short overflows",
                   18,
                   {Long(0), Long(0), Long(70000), Text(L"a"), Text(L"b")},
                   DISP_E_OVERFLOW,
                   2,
                   {},
                   {}});
  cases.push_back({"short from text",
                   18,
                   {Long(0), Long(0), Text(L"abc"), Text(L"a"), Text(L"b")},
                   DISP_E_TYPEMISMATCH,
                   2,
                   {},
                   {}});
  cases.push_back({"first argument", 4, {Text(L"abc")}, DISP_E_TYPEMISMATCH, 0, {}, {}});
  cases.push_back(
      {"first of three", 24, {Text(L"abc"), Long(0), Text(L"x")}, DISP_E_TYPEMISMATCH, 2, {}, {}});
  cases.push_back({"too few", 3, {Long(0)}, DISP_E_BADPARAMCOUNT, kNone, {}, {}});
  cases.push_back({"too many", 1, {Long(0)}, DISP_E_BADPARAMCOUNT, kNone, {}, {}});
  cases.push_back({"no such member", 27, {}, DISP_E_MEMBERNOTFOUND, kNone, {}, {}});
  cases.push_back({"member 0", 0, {}, DISP_E_MEMBERNOTFOUND, kNone, {}, {}});
  for (Case& c : cases) {
    std::vector<VARIANT> reversed(c.args.rbegin(), c.args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    UINT arg_err = kNone;
    EXPECT_EQ(control->Invoke(c.dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                              &arg_err),
              c.hr)
        << c.what;
    EXPECT_EQ(arg_err, c.arg_err) << c.what;
    if (c.number) {
      EXPECT_EQ(V_VT(&result), VT_I4) << c.what;
      EXPECT_EQ(V_I4(&result), *c.number) << c.what;
    } else if (c.text) {
      ASSERT_EQ(V_VT(&result), VT_BSTR) << c.what;
      EXPECT_EQ(std::wstring(V_BSTR(&result), SysStringLen(V_BSTR(&result))), *c.text) << c.what;
    } else {
      EXPECT_EQ(V_VT(&result), VT_EMPTY) << c.what;
    }
    VariantClear(&result);
    for (VARIANT& v : c.args) VariantClear(&v);
  }
  // Named arguments are not taken; a property put finds no member.
  VARIANT arg = Long(0);
  DISPID named = 0;
  DISPPARAMS with_name = {&arg, &named, 1, 1};
  EXPECT_EQ(control->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &with_name, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  DISPPARAMS plain = {&arg, nullptr, 1, 0};
  EXPECT_EQ(
      control->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, &plain, nullptr, nullptr, nullptr),
      DISP_E_MEMBERNOTFOUND);
  // A method called as a property get, as script engines may.
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(control->Invoke(1, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &plain, &result,
                            nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
}

// A property bag held in memory.
class MemoryBag final : public IPropertyBag {
 public:
  std::map<std::wstring, LONG> values;
  std::vector<std::wstring> written;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    VariantClear(value);
    V_VT(value) = VT_I4;
    V_I4(value) = found->second;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, value, 0, VT_I4))) return E_INVALIDARG;
    written.push_back(name);
    values[name] = V_I4(&number);
    return S_OK;
  }
};

SIZEL ExtentOf(IUnknown* control) {
  Ptr<IOleObject> ole;
  SIZEL size{-1, -1};
  if (SUCCEEDED(control->QueryInterface(IID_IOleObject, ole.put()))) {
    ole->GetExtent(DVASPECT_CONTENT, &size);
  }
  return size;
}

TEST(OcxControl, PersistsVersionAndExtent) {
  Ptr<IPersistPropertyBag> control;
  ASSERT_EQ(Create(kControlClsid, IID_IPersistPropertyBag, control), S_OK);
  ASSERT_EQ(control->InitNew(), S_OK);
  MemoryBag fresh;
  ASSERT_EQ(control->Save(&fresh, TRUE, TRUE), S_OK);
  EXPECT_EQ(fresh.written,
            (std::vector<std::wstring>{L"_Version", L"_ExtentX", L"_ExtentY", L"_StockProps"}));
  EXPECT_EQ(fresh.values, (std::map<std::wstring, LONG>{{L"_Version", 0x10000},
                                                        {L"_ExtentX", kPictureExtent},
                                                        {L"_ExtentY", kPictureExtent},
                                                        {L"_StockProps", 0}}));

  // Another version loads as it is; saving writes the current one.
  MemoryBag older;
  older.values = {
      {L"_Version", 0x20003}, {L"_ExtentX", 1000}, {L"_ExtentY", 2000}, {L"_StockProps", 0}};
  ASSERT_EQ(control->Load(&older, nullptr), S_OK);
  EXPECT_EQ(ExtentOf(control.p).cx, 1000);
  EXPECT_EQ(ExtentOf(control.p).cy, 2000);
  MemoryBag saved;
  ASSERT_EQ(control->Save(&saved, TRUE, TRUE), S_OK);
  EXPECT_EQ(saved.values[L"_Version"], 0x10000);
  EXPECT_EQ(saved.values[L"_ExtentY"], 2000);

  // Reset leaves the extent as it was.
  ASSERT_EQ(control->InitNew(), S_OK);
  EXPECT_EQ(ExtentOf(control.p).cx, 1000);

  // The stream holds the same four values and brings them back.
  Ptr<IPersistStreamInit> streamed;
  ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, streamed.put()), S_OK);
  Ptr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.put())), S_OK);
  ASSERT_EQ(streamed->Save(stream.p, TRUE), S_OK);
  ULARGE_INTEGER size{};
  ASSERT_EQ(streamed->GetSizeMax(&size), S_OK);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, size.QuadPart);
  EXPECT_EQ(stat.cbSize.QuadPart, 16u);
  Ptr<IPersistStreamInit> copy;
  ASSERT_EQ(Create(kControlClsid, IID_IPersistStreamInit, copy), S_OK);
  const LARGE_INTEGER start{};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(copy->Load(stream.p), S_OK);
  EXPECT_EQ(ExtentOf(copy.p).cx, 1000);
  EXPECT_EQ(ExtentOf(copy.p).cy, 2000);
}

// Draws into a 40 x 40 DIB whose bounds are neither 30 x 30 nor at the
// origin: the picture lands at the origin, 30 x 30, in the picture's
// colours, and the control asks for its own size.
TEST(OcxControl, DrawsThePicture) {
  Ptr<IViewObject2> view;
  ASSERT_EQ(Create(kControlClsid, IID_IViewObject2, view), S_OK);
  Ptr<IOleObject> ole;
  ASSERT_EQ(view->QueryInterface(IID_IOleObject, ole.put()), S_OK);
  SIZEL big{5000, 5000};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &big), S_OK);

  constexpr int kSide = 40;
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), kSide, -kSide, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC target = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HBITMAP dib = CreateDIBSection(target, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  HGDIOBJ kept = SelectObject(target, dib);
  auto* pixels = static_cast<uint32_t*>(bits);
  constexpr uint32_t kMarker = 0x00FF00FF;
  std::fill(pixels, pixels + kSide * kSide, kMarker);

  const RECTL bounds = {5, 5, 45, 25};
  ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target, &bounds, nullptr,
                       nullptr, 0),
            S_OK);
  GdiFlush();
  auto rgb = [](const identity::PictureInk& ink) {
    return static_cast<uint32_t>(ink.red) << 16 | static_cast<uint32_t>(ink.green) << 8 | ink.blue;
  };
  auto at = [&](int x, int y) { return pixels[y * kSide + x] & 0x00FFFFFF; };
  // Shrinking 32 to 30 merges neighbouring source pixels (how depends on
  // the stretch mode), so a pixel's colour is known exactly where its
  // whole source neighbourhood has one ink; every pixel is drawn.
  int exact = 0;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (x >= 30 || y >= 30) {
        ASSERT_EQ(at(x, y), kMarker) << x << "," << y;
        continue;
      }
      ASSERT_NE(at(x, y), kMarker) << x << "," << y;
      const int sx = x * 32 / 30, sy = y * 32 / 30;
      const char ink = identity::kPictureRows[sy][sx];
      bool uniform = true;
      for (int ny = std::max(sy - 1, 0); ny <= std::min(sy + 2, 31); ++ny) {
        for (int nx = std::max(sx - 1, 0); nx <= std::min(sx + 2, 31); ++nx) {
          uniform &= identity::kPictureRows[ny][nx] == ink;
        }
      }
      if (!uniform) continue;
      ++exact;
      EXPECT_EQ(at(x, y), rgb(identity::PictureInkAt(sx, sy))) << x << "," << y;
    }
  }
  EXPECT_GT(exact, 100);
  SIZEL extent{};
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent), S_OK);
  EXPECT_EQ(extent.cx, kPictureExtent);
  EXPECT_EQ(extent.cy, kPictureExtent);
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, target, &bounds, nullptr,
                       nullptr, 0),
            DV_E_DVASPECT);
  SelectObject(target, kept);
  DeleteObject(dib);
  DeleteDC(target);
}

TEST(OcxPropertyPage, ShowsItsOneLine) {
  Ptr<IPropertyPage> page;
  ASSERT_EQ(Create(kPageClsid, IID_IPropertyPage, page), S_OK);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_STREQ(info.pszTitle, L"General");
  EXPECT_GT(info.size.cx, 0);
  EXPECT_GT(info.size.cy, 0);
  EXPECT_NE(std::wstring(info.pszDocString).find(L"TarvonaActiveX Control"), std::wstring::npos);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);

  Ptr<IUnknown> control;
  ASSERT_EQ(Create(kControlClsid, IID_IUnknown, control), S_OK);
  IUnknown* objects[] = {control.p};
  EXPECT_EQ(page->SetObjects(1, objects), S_OK);

  HWND parent = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  const RECT place = {0, 0, 300, 100};
  ASSERT_EQ(page->Activate(parent, &place, FALSE), S_OK);
  HWND dialog = GetWindow(parent, GW_CHILD);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & (WS_CAPTION | WS_CHILD), WS_CHILD);
  HWND text = GetDlgItem(dialog, 0xFFFF);
  ASSERT_NE(text, nullptr);
  wchar_t line[200] = {};
  GetWindowTextW(text, line, 200);
  EXPECT_EQ(std::wstring(line), Wide(identity::kPageText));
  EXPECT_EQ(GetWindow(text, GW_HWNDNEXT), nullptr);  // the only control
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  DestroyWindow(parent);
}

TEST(OcxModule, UnloadsOnlyWhenNothingIsHeld) {
  ASSERT_EQ(g_module.can_unload_now(), S_OK);
  {
    Ptr<IUnknown> control;
    ASSERT_EQ(Create(kControlClsid, IID_IUnknown, control), S_OK);
    EXPECT_EQ(g_module.can_unload_now(), S_FALSE);
  }
  {
    Ptr<IUnknown> page;
    ASSERT_EQ(Create(kPageClsid, IID_IUnknown, page), S_OK);
    EXPECT_EQ(g_module.can_unload_now(), S_FALSE);
  }
  EXPECT_EQ(g_module.can_unload_now(), S_OK);
  Ptr<IClassFactory> factory;
  ASSERT_EQ(g_module.get_class_object(kControlClsid, IID_IClassFactory, factory.put()), S_OK);
  EXPECT_EQ(g_module.can_unload_now(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(g_module.can_unload_now(), S_FALSE);
  ASSERT_EQ(g_module.get_class_object(kControlClsid, IID_IClassFactory, factory.put()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(g_module.can_unload_now(), S_OK);
}

// Last: removes the record again, leaving the category definitions.
TEST(OcxRegistrationZ, UnregisterLeavesTheCategories) {
  ASSERT_EQ(g_module.unregister_server(), S_OK);
  for (const std::wstring& key :
       {L"CLSID\\" + GuidText(kControlClsid), L"CLSID\\" + GuidText(kPageClsid),
        Wide(identity::kControlProgId),
        std::wstring(L"TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}")}) {
    EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
  }
  EXPECT_TRUE(KeyExists(L"Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}"));
  EXPECT_TRUE(KeyExists(L"Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"));
  // Registering again after a removal builds the same record.
  ASSERT_EQ(g_module.register_server(), S_OK);
  EXPECT_EQ(RegistryText(L"CLSID\\" + GuidText(kControlClsid) + L"\\InprocServer32"),
            g_module.short_path);
  EXPECT_EQ(g_module.unregister_server(), S_OK);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new OcxEnvironment);
  return RUN_ALL_TESTS();
}
