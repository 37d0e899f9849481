// The module file as a host meets it: loaded by file name, its class
// object from DllGetClassObject, the control driven through IDispatch with
// VARIANTs last first, and persisted through a property bag. No token
// module sits beside it, so the token calls fail as they must.
#include <dlfcn.h>
#include <olectl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "common/control_identity.h"
#include "common/result_code.h"
#include "platform/com_ptr.h"

namespace {

using tarvona::platform::Held;
namespace identity = tarvona::identity;

constexpr CLSID kControlClsid = identity::ToGuid<GUID>(identity::kControlClsid);
constexpr CLSID kPageClsid = identity::ToGuid<GUID>(identity::kPageClsid);

struct Var : VARIANT {
  Var() { VariantInit(this); }
  explicit Var(LONG value) : Var() { vt = VT_I4, lVal = value; }
  explicit Var(double value) : Var() { vt = VT_R8, dblVal = value; }
  explicit Var(std::u16string_view text) : Var() {
    vt = VT_BSTR;
    bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  static Var Null() {
    Var v;
    v.vt = VT_NULL;
    return v;
  }
  ~Var() { VariantClear(this); }
  Var(Var&& other) noexcept : VARIANT(other) { VariantInit(&other); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

// The module file, loaded for the whole suite.
class OcxModuleTest : public ::testing::Test {
 protected:
  using GetClassObject = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
  using CanUnloadNow = HRESULT (*)();

  // A copy in a folder of its own, where no token adaptor sits beside it.
  static void SetUpTestSuite() {
    char folder[] = "/tmp/tarvona-ocx-XXXXXX";
    folder_ = mkdtemp(folder);
    const std::filesystem::path copy = folder_ / "TarvonaActiveX.ocx";
    std::filesystem::copy_file(TARVONA_OCX_PATH, copy);
    library_ = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  static void TearDownTestSuite() {
    if (library_ != nullptr) dlclose(library_);
    std::filesystem::remove_all(folder_);
  }
  void SetUp() override {
    ASSERT_NE(library_, nullptr) << dlerror();
    get_class_object_ = reinterpret_cast<GetClassObject>(dlsym(library_, "DllGetClassObject"));
    can_unload_now_ = reinterpret_cast<CanUnloadNow>(dlsym(library_, "DllCanUnloadNow"));
    ASSERT_NE(get_class_object_, nullptr);
    ASSERT_NE(can_unload_now_, nullptr);
  }

  void CreateControl(REFIID iid, void** out) {
    Held<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(kControlClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, iid, out), S_OK);
  }

  static inline std::filesystem::path folder_;
  static void* library_;
  GetClassObject get_class_object_ = nullptr;
  CanUnloadNow can_unload_now_ = nullptr;
};
void* OcxModuleTest::library_ = nullptr;

TEST_F(OcxModuleTest, ClassObjectsAndUnloading) {
  struct Case {
    CLSID clsid;
    IID iid;
    HRESULT hr;
  };
  const Case cases[] = {
      {kControlClsid, IID_IClassFactory, S_OK},
      {kPageClsid, IID_IUnknown, S_OK},
      {kControlClsid, IID_IDispatch, E_NOINTERFACE},
      {identity::ToGuid<GUID>(identity::kLibId), IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
  };
  for (const Case& c : cases) {
    Held<IUnknown> object;
    EXPECT_EQ(get_class_object_(c.clsid, c.iid, object.PutVoid()), c.hr);
    EXPECT_EQ(static_cast<bool>(object), SUCCEEDED(c.hr));
  }
  EXPECT_EQ(can_unload_now_(), S_OK);
  {
    Held<IDispatch> control;
    CreateControl(IID_IDispatch, control.PutVoid());
    EXPECT_EQ(can_unload_now_(), S_FALSE);
    Held<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(kControlClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    Held<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(control.get(), IID_IUnknown, aggregated.PutVoid()),
              CLASS_E_NOAGGREGATION);
  }
  EXPECT_EQ(can_unload_now_(), S_OK);
}

TEST_F(OcxModuleTest, InvokeTakesArgumentsLastFirst) {
  Held<IDispatch> control;
  CreateControl(IID_IDispatch, control.PutVoid());
  ASSERT_TRUE(control);

  using Result = std::variant<std::monostate, LONG, std::u16string>;
  struct Case {
    const char16_t* method;
    std::vector<Var> args;  // in call order
    HRESULT hr;
    Result result;
    UINT arg_err;  // for coercion failures: the failing argument's DISPPARAMS index
  };
  auto args = [](auto&&... values) {
    std::vector<Var> list;
    (list.push_back(std::move(values)), ...);
    return list;
  };
  const LONG not_loaded = LONG{tarvona::kModuleNotLoaded};
  const LONG not_ready = LONG{tarvona::kModuleNotReady};
  Case cases[] = {
      {u"ConnectToken", args(), S_OK, not_loaded, 0},
      {u"connecttoken", args(), S_OK, not_loaded, 0},
      {u"DisconnectToken", args(Var(12345)), S_OK, not_ready, 0},
      {u"Login", args(Var(0), Var(u"1234")), S_OK, not_ready, 0},
      {u"Hash", args(Var(12345), Var(0), Var(u"616263")), S_OK, std::u16string(), 0},
      // Script's other types, coerced: text for a long, a real for a long.
      {u"Hash", args(Var(u"12345"), Var(0.0), Var(u"616263")), S_OK, std::u16string(), 0},
      {u"Login", args(Var::Null(), Var(u"1234")), DISP_E_TYPEMISMATCH, {}, 1},
      {u"Login", args(Var(0), Var::Null()), DISP_E_TYPEMISMATCH, {}, 0},
      {u"Login", args(Var(u"zero"), Var(u"1234")), DISP_E_TYPEMISMATCH, {}, 1},
      {u"Verify", args(Var(1), Var(1), Var(70000), Var(u"00"), Var(u"00")), DISP_E_OVERFLOW, {}, 2},
      {u"Verify", args(Var(1), Var(1), Var(u"-32769"), Var(u"00"), Var(u"00")), DISP_E_OVERFLOW,
       {}, 2},
      {u"Login", args(Var(0)), DISP_E_BADPARAMCOUNT, {}, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(std::string(c.method, c.method + std::char_traits<char16_t>::length(c.method)));
    LPOLESTR name = const_cast<LPOLESTR>(c.method);
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    std::vector<VARIANT> reversed(c.args.rbegin(), c.args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Var result;
    UINT arg_err = 99;
    EXPECT_EQ(control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                              nullptr, &arg_err),
              c.hr);
    if (FAILED(c.hr)) {
      if (c.hr != DISP_E_BADPARAMCOUNT) {
        EXPECT_EQ(arg_err, c.arg_err);
      }
      continue;
    }
    if (const auto* number = std::get_if<LONG>(&c.result)) {
      ASSERT_EQ(result.vt, VT_I4);
      EXPECT_EQ(result.lVal, *number);
    } else {
      ASSERT_EQ(result.vt, VT_BSTR);
      EXPECT_EQ(std::u16string(result.bstrVal, SysStringLen(result.bstrVal)),
                std::get<std::u16string>(c.result));
    }
  }

  // Names with their parameters' positions; unknown names and interfaces.
  LPOLESTR names[] = {const_cast<LPOLESTR>(OLESTR("HASH")),
                      const_cast<LPOLESTR>(OLESTR("strPlainText")),
                      const_cast<LPOLESTR>(OLESTR("noSuchParam"))};
  DISPID ids[3] = {};
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 15);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  LPOLESTR unknown = const_cast<LPOLESTR>(OLESTR("Frobnicate"));
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(control->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(control->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

// A sink that counts its references.
class CountingSink final : public IAdviseSink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}
  ULONG references = 1;
};

TEST_F(OcxModuleTest, OleObjectHoldsItsSinksAndHasNoVerbs) {
  Held<IOleObject> object;
  CreateControl(IID_IOleObject, object.PutVoid());
  ASSERT_TRUE(object);
  CountingSink first;
  CountingSink second;
  DWORD one = 0;
  DWORD two = 0;
  ASSERT_EQ(object->Advise(&first, &one), S_OK);
  ASSERT_EQ(object->Advise(&second, &two), S_OK);
  EXPECT_NE(one, two);
  EXPECT_EQ(first.references, 2u);
  EXPECT_EQ(object->Unadvise(one), S_OK);
  EXPECT_EQ(object->Unadvise(one), OLE_E_NOCONNECTION);
  EXPECT_EQ(first.references, 1u);
  // The last reference to the control lets the other go.
  object.Reset();
  EXPECT_EQ(second.references, 1u);

  CreateControl(IID_IOleObject, object.PutVoid());
  IEnumOLEVERB* verbs = nullptr;
  EXPECT_EQ(object->EnumVerbs(&verbs), OLEOBJ_E_NOVERBS);
  EXPECT_EQ(verbs, nullptr);
  DWORD status = 0;
  EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, identity::kControlMiscStatus);
}

// A surface of the host's, white to begin with.
class Surface final : public HDC__ {
 public:
  Surface(LONG width, LONG height) : width_(width), pixels_(width * height, RGB(255, 255, 255)) {}
  LONG Width() const override { return width_; }
  LONG Height() const override { return static_cast<LONG>(pixels_.size()) / width_; }
  void Paint(LONG x, LONG y, COLORREF color) override { pixels_[y * width_ + x] = color; }
  COLORREF At(LONG x, LONG y) const { return pixels_[y * width_ + x]; }

 private:
  LONG width_;
  std::vector<COLORREF> pixels_;
};

COLORREF InkAt(int32_t x, int32_t y) {
  const identity::PictureInk ink = identity::PictureInkAt(x, y);
  return RGB(ink.red, ink.green, ink.blue);
}

TEST_F(OcxModuleTest, DrawsThePictureAtTheOrigin) {
  Held<IViewObject2> view;
  CreateControl(IID_IViewObject2, view.PutVoid());
  ASSERT_TRUE(view);
  Surface surface(40, 40);
  const RECTL bounds = {0, 0, 30, 30};
  struct Case {
    DWORD aspect;
    HDC target;
    const RECTL* bounds;
    HRESULT hr;
  };
  const Case cases[] = {
      {DVASPECT_ICON, &surface, &bounds, DV_E_DVASPECT},
      {DVASPECT_CONTENT, nullptr, &bounds, E_INVALIDARG},
      {DVASPECT_CONTENT, &surface, nullptr, E_INVALIDARG},
      {DVASPECT_CONTENT, &surface, &bounds, S_OK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(view->Draw(c.aspect, -1, nullptr, nullptr, nullptr, c.target, c.bounds, nullptr,
                         nullptr, 0),
              c.hr);
  }
  // The picture's corners land on the target's, 30 x 30; nothing beyond.
  EXPECT_EQ(surface.At(0, 0), InkAt(0, 0));
  EXPECT_EQ(surface.At(29, 0), InkAt(31, 0));
  EXPECT_EQ(surface.At(29, 29), InkAt(31, 31));
  EXPECT_EQ(surface.At(15, 15), InkAt(16, 16));
  for (LONG i = 0; i < 40; ++i) {
    EXPECT_EQ(surface.At(30, i), RGB(255, 255, 255));
    EXPECT_EQ(surface.At(i, 30), RGB(255, 255, 255));
  }
  SIZEL extent{};
  ASSERT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent), S_OK);
  EXPECT_EQ(extent.cx, identity::PixelsToHimetric(30));
}

// A property bag in memory, its values held as VARIANTs.
class MemoryBag final : public IPropertyBag {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IPropertyBag)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IPropertyBag*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    const auto found = values_.find(name);
    if (found == values_.end()) return E_INVALIDARG;
    return VariantCopy(value, &found->second);
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    return VariantCopy(&values_[name], value);
  }
  std::map<std::u16string, Var> values_;
};

TEST_F(OcxModuleTest, PersistsThroughAPropertyBag) {
  Held<IPersistPropertyBag> first;
  CreateControl(IID_IPersistPropertyBag, first.PutVoid());
  ASSERT_TRUE(first);
  CLSID clsid{};
  ASSERT_EQ(first->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kControlClsid));

  // What a page stored: the extent as text, an old version.
  MemoryBag stored;
  stored.values_.emplace(u"_Version", Var(LONG{0x00010000}));
  stored.values_.emplace(u"_ExtentX", Var(u"500"));
  stored.values_.emplace(u"_ExtentY", Var(LONG{600}));
  ASSERT_EQ(first->Load(&stored, nullptr), S_OK);
  Held<IOleObject> object;
  ASSERT_EQ(first->QueryInterface(IID_IOleObject, object.PutVoid()), S_OK);
  SIZEL extent{};
  ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, 500);
  EXPECT_EQ(extent.cy, 600);

  MemoryBag saved;
  ASSERT_EQ(first->Save(&saved, TRUE, TRUE), S_OK);
  const std::pair<std::u16string, LONG> expected[] = {
      {u"_Version", static_cast<LONG>(identity::kControlVersion)},
      {u"_ExtentX", 500},
      {u"_ExtentY", 600},
      {u"_StockProps", 0},
  };
  ASSERT_EQ(saved.values_.size(), std::size(expected));
  for (const auto& [name, value] : expected) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    ASSERT_EQ(saved.values_.count(name), 1u);
    EXPECT_EQ(saved.values_.at(name).vt, VT_I4);
    EXPECT_EQ(saved.values_.at(name).lVal, value);
  }

  // A second control comes back with the same values, and saves them alike.
  Held<IPersistPropertyBag> second;
  CreateControl(IID_IPersistPropertyBag, second.PutVoid());
  ASSERT_EQ(second->Load(&saved, nullptr), S_OK);
  MemoryBag again;
  ASSERT_EQ(second->Save(&again, TRUE, TRUE), S_OK);
  for (const auto& [name, value] : expected) EXPECT_EQ(again.values_.at(name).lVal, value);
  EXPECT_EQ(second->Load(nullptr, nullptr), E_POINTER);
}

// A stream in memory, read from where the last read ended.
class MemoryStream final : public IStream {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override {
    const ULONG count = std::min<ULONG>(size, static_cast<ULONG>(bytes.size() - position));
    std::memcpy(data, bytes.data() + position, count);
    position += count;
    if (read != nullptr) *read = count;
    return count == size ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
    const auto* begin = static_cast<const BYTE*>(data);
    bytes.insert(bytes.end(), begin, begin + size);
    if (written != nullptr) *written = size;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

  std::vector<BYTE> bytes;
  size_t position = 0;
};

TEST_F(OcxModuleTest, PersistsThroughAStream) {
  Held<IPersistStreamInit> first;
  CreateControl(IID_IPersistStreamInit, first.PutVoid());
  ASSERT_TRUE(first);
  ASSERT_EQ(first->InitNew(), S_OK);
  Held<IOleObject> object;
  ASSERT_EQ(first->QueryInterface(IID_IOleObject, object.PutVoid()), S_OK);
  SIZEL extent = {700, 800};
  ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(first->IsDirty(), S_OK);
  MemoryStream stream;
  ASSERT_EQ(first->Save(&stream, TRUE), S_OK);
  EXPECT_EQ(first->IsDirty(), S_FALSE);
  // Four little-endian longs: version, extent, stock properties.
  const LONG expected[] = {static_cast<LONG>(identity::kControlVersion), 700, 800, 0};
  ASSERT_EQ(stream.bytes.size(), sizeof expected);
  EXPECT_EQ(std::memcmp(stream.bytes.data(), expected, sizeof expected), 0);
  ULARGE_INTEGER size{};
  ASSERT_EQ(first->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, sizeof expected);

  Held<IPersistStreamInit> second;
  CreateControl(IID_IPersistStreamInit, second.PutVoid());
  ASSERT_EQ(second->Load(&stream), S_OK);
  Held<IOleObject> loaded;
  ASSERT_EQ(second->QueryInterface(IID_IOleObject, loaded.PutVoid()), S_OK);
  ASSERT_EQ(loaded->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, 700);
  EXPECT_EQ(extent.cy, 800);
  // A stream cut short loads nothing.
  MemoryStream short_stream;
  short_stream.bytes.assign(stream.bytes.begin(), stream.bytes.begin() + 8);
  EXPECT_EQ(second->Load(&short_stream), E_FAIL);
}

}  // namespace
