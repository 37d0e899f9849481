// The Linux COM runtime against what Windows does: the shapes module and
// host exchange, BSTRs, the coercions script arguments go through, type
// information made from a table, DIB sections, the registry calls landing
// in the classes file, and activation of in-process servers.
#include <comcat.h>
#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/linux_com/test_module.h"

namespace {

// Windows' sizes and offsets, on 64- and 32-bit systems alike.
constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(OLECHAR) == 2 && sizeof(LONG) == 4 && sizeof(ULONG) == 4);
static_assert(sizeof(GUID) == 16 && offsetof(GUID, Data4) == 8);
static_assert(sizeof(VARIANT) == (k64 ? 24 : 16) && offsetof(VARIANT, bstrVal) == 8);
static_assert(sizeof(DISPPARAMS) == (k64 ? 24 : 16) && offsetof(DISPPARAMS, cArgs) == (k64 ? 16 : 8));
static_assert(sizeof(EXCEPINFO) == (k64 ? 64 : 32) && offsetof(EXCEPINFO, scode) == (k64 ? 56 : 28));
static_assert(sizeof(CATEGORYINFO) == 276 && sizeof(CONTROLINFO) == (k64 ? 24 : 16));
static_assert(sizeof(ELEMDESC) == (k64 ? 32 : 16) && sizeof(VARDESC) == (k64 ? 64 : 36));
static_assert(sizeof(TYPEATTR) == (k64 ? 96 : 76) && offsetof(TYPEATTR, cFuncs) == (k64 ? 48 : 44) &&
              offsetof(TYPEATTR, tdescAlias) == (k64 ? 64 : 60));
static_assert(sizeof(FUNCDESC) == (k64 ? 88 : 52) && offsetof(FUNCDESC, cParams) == (k64 ? 36 : 24) &&
              offsetof(FUNCDESC, elemdescFunc) == (k64 ? 48 : 32));
static_assert(sizeof(METHODDATA) == (k64 ? 40 : 28) && offsetof(METHODDATA, vtReturn) == (k64 ? 34 : 26));
static_assert(sizeof(PARAMDATA) == (k64 ? 16 : 8) && sizeof(INTERFACEDATA) == (k64 ? 16 : 8));
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44);

// A VARIANT released when it goes.
struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

struct Bstr {
  explicit Bstr(std::u16string_view text)
      : p(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(p); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR p;
};

TEST(ComRuntimeTest, BstrKeepsItsLengthBeforeAndANulAfter) {
  const std::u16string texts[] = {u"", u"abc", std::u16string(u"a\0b", 3), std::u16string(300, u'x')};
  for (const std::u16string& text : texts) {
    Bstr b(text);
    ASSERT_NE(b.p, nullptr);
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(b.p) - 4, 4);
    EXPECT_EQ(prefix, text.size() * 2);
    EXPECT_EQ(SysStringLen(b.p), text.size());
    EXPECT_EQ(SysStringByteLen(b.p), text.size() * 2);
    EXPECT_EQ(b.p[text.size()], u'\0');
    EXPECT_EQ(std::u16string(b.p, SysStringLen(b.p)), text);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b.p) % 8, 0u);
  }
  BSTR copy = SysAllocString(OLESTR("until\0here"));
  EXPECT_EQ(SysStringLen(copy), 5u);
  SysFreeString(copy);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(ComRuntimeTest, VariantChangeTypeCoercesWhatScriptPasses) {
  struct Case {
    const char* what;
    VARTYPE vt;  // of the source
    double number;
    const char16_t* text;  // for VT_BSTR sources
    VARTYPE to;
    HRESULT hr;
    const char16_t* expected;  // the result as VT_BSTR text
  };
  // The expected value is read back as text through VT_BSTR for any
  // target, so a wrong number shows too.
  const Case cases[] = {
      {"empty to long", VT_EMPTY, 0, nullptr, VT_I4, S_OK, u"0"},
      {"empty to short", VT_EMPTY, 0, nullptr, VT_I2, S_OK, u"0"},
      {"empty to text", VT_EMPTY, 0, nullptr, VT_BSTR, S_OK, u""},
      {"null to long", VT_NULL, 0, nullptr, VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {"null to text", VT_NULL, 0, nullptr, VT_BSTR, DISP_E_TYPEMISMATCH, nullptr},
      {"i1 to long", VT_I1, -5, nullptr, VT_I4, S_OK, u"-5"},
      {"ui1 to short", VT_UI1, 255, nullptr, VT_I2, S_OK, u"255"},
      {"i2 to long", VT_I2, -32768, nullptr, VT_I4, S_OK, u"-32768"},
      {"ui2 over a short", VT_UI2, 40000, nullptr, VT_I2, DISP_E_OVERFLOW, nullptr},
      {"long 70000 over a short", VT_I4, 70000, nullptr, VT_I2, DISP_E_OVERFLOW, nullptr},
      {"long -32769 under a short", VT_I4, -32769, nullptr, VT_I2, DISP_E_OVERFLOW, nullptr},
      {"long to text", VT_I4, -42, nullptr, VT_BSTR, S_OK, u"-42"},
      {"ui4 over a long", VT_UI4, 2147483648.0, nullptr, VT_I4, DISP_E_OVERFLOW, nullptr},
      {"i8 to long", VT_I8, 2147483647, nullptr, VT_I4, S_OK, u"2147483647"},
      {"i8 over a long", VT_I8, 2147483648.0, nullptr, VT_I4, DISP_E_OVERFLOW, nullptr},
      {"ui8 to text", VT_UI8, 18446744073709551615.0, nullptr, VT_BSTR, S_OK,
       u"18446744073709551615"},
      {"ui8 over a long", VT_UI8, 18446744073709551615.0, nullptr, VT_I4, DISP_E_OVERFLOW, nullptr},
      {"r8 2.5 rounds to even", VT_R8, 2.5, nullptr, VT_I4, S_OK, u"2"},
      {"r8 3.5 rounds to even", VT_R8, 3.5, nullptr, VT_I4, S_OK, u"4"},
      {"r8 -1.5 rounds to even", VT_R8, -1.5, nullptr, VT_I2, S_OK, u"-2"},
      {"r8 over a long", VT_R8, 2147483647.5, nullptr, VT_I4, DISP_E_OVERFLOW, nullptr},
      {"r8 to text", VT_R8, 1.5, nullptr, VT_BSTR, S_OK, u"1.5"},
      {"r8 large to text", VT_R8, 1e20, nullptr, VT_BSTR, S_OK, u"1E+20"},
      {"r4 to short", VT_R4, 12.25, nullptr, VT_I2, S_OK, u"12"},
      {"r4 to text", VT_R4, 0.1, nullptr, VT_BSTR, S_OK, u"0.1"},
      {"true to long", VT_BOOL, VARIANT_TRUE, nullptr, VT_I4, S_OK, u"-1"},
      {"false to short", VT_BOOL, VARIANT_FALSE, nullptr, VT_I2, S_OK, u"0"},
      {"true to text", VT_BOOL, VARIANT_TRUE, nullptr, VT_BSTR, S_OK, u"-1"},
      {"text 65536 to long", VT_BSTR, 0, u"65536", VT_I4, S_OK, u"65536"},
      {"text 65536 over a short", VT_BSTR, 0, u"65536", VT_I2, DISP_E_OVERFLOW, nullptr},
      {"text with spaces and sign", VT_BSTR, 0, u" -12 ", VT_I4, S_OK, u"-12"},
      {"text with a fraction", VT_BSTR, 0, u"1.5", VT_I4, S_OK, u"2"},
      {"text with an exponent", VT_BSTR, 0, u"1e3", VT_I2, S_OK, u"1000"},
      {"hex text", VT_BSTR, 0, u"0x10", VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {"empty text", VT_BSTR, 0, u"", VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {"words", VT_BSTR, 0, u"twelve", VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {"huge text", VT_BSTR, 0, u"1e400", VT_I4, DISP_E_OVERFLOW, nullptr},
      {"text to text", VT_BSTR, 0, u"a\u00e9", VT_BSTR, S_OK, u"a\u00e9"},
      {"an object", VT_UNKNOWN, 0, nullptr, VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {"no such type", 15, 0, nullptr, VT_I4, DISP_E_BADVARTYPE, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Var from;
    from.vt = c.vt;
    switch (c.vt) {
      case VT_I1: from.cVal = static_cast<CHAR>(c.number); break;
      case VT_UI1: from.bVal = static_cast<BYTE>(c.number); break;
      case VT_I2: from.iVal = static_cast<SHORT>(c.number); break;
      case VT_UI2: from.uiVal = static_cast<USHORT>(c.number); break;
      case VT_I4: from.lVal = static_cast<LONG>(c.number); break;
      case VT_UI4: from.ulVal = static_cast<ULONG>(c.number); break;
      case VT_I8: from.llVal = static_cast<LONGLONG>(c.number); break;
      case VT_UI8: from.ullVal = c.number >= 1.8e19 ? UINT64_MAX : static_cast<ULONGLONG>(c.number); break;
      case VT_R4: from.fltVal = static_cast<FLOAT>(c.number); break;
      case VT_R8: from.dblVal = c.number; break;
      case VT_BOOL: from.boolVal = static_cast<VARIANT_BOOL>(c.number); break;
      case VT_BSTR: from.bstrVal = SysAllocString(c.text); break;
      case VT_UNKNOWN: from.punkVal = nullptr; break;
      default: break;
    }
    // Directly, through VT_BYREF|VT_VARIANT, and in place.
    for (int road = 0; road < 3; ++road) {
      Var out;
      Var holder;
      VARIANT* source = &from;
      if (road == 1) {
        holder.vt = VT_BYREF | VT_VARIANT;
        holder.pvarVal = &from;
        source = &holder;
      }
      Var in_place;
      if (road == 2) {
        ASSERT_EQ(VariantCopy(&in_place, &from), S_OK);
        source = &in_place;
      }
      VARIANT* target = road == 2 ? &in_place : &out;
      ASSERT_EQ(VariantChangeType(target, source, 0, c.to), c.hr) << "road " << road;
      if (FAILED(c.hr)) continue;
      EXPECT_EQ(target->vt, c.to);
      Var text;
      ASSERT_EQ(VariantChangeType(&text, target, 0, VT_BSTR), S_OK);
      EXPECT_EQ(std::u16string(text.bstrVal, SysStringLen(text.bstrVal)), c.expected);
    }
  }
  Var flag;
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  Var alpha;
  ASSERT_EQ(VariantChangeType(&alpha, &flag, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(alpha.bstrVal), u"True");
}

TEST(ComRuntimeTest, TextCrossesAsUtf8) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {"abc", u"abc"},
      {"caf\xc3\xa9 \xe2\x82\xac", u"caf\u00e9 \u20ac"},
      {"\xf0\x9f\x94\x91", u"\U0001F511"},  // a surrogate pair
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const UINT code_page : {CP_ACP, CP_UTF8}) {
    for (const Case& c : cases) {
      const int narrow = static_cast<int>(c.narrow.size());
      const int wide = static_cast<int>(c.wide.size());
      ASSERT_EQ(MultiByteToWideChar(code_page, 0, c.narrow.data(), narrow, nullptr, 0), wide);
      std::u16string to_wide(c.wide.size(), u'?');
      ASSERT_EQ(MultiByteToWideChar(code_page, 0, c.narrow.data(), narrow, to_wide.data(), wide),
                wide);
      EXPECT_EQ(to_wide, c.wide);
      ASSERT_EQ(WideCharToMultiByte(code_page, 0, c.wide.data(), wide, nullptr, 0, nullptr, nullptr),
                narrow);
      std::string to_narrow(c.narrow.size(), '?');
      ASSERT_EQ(WideCharToMultiByte(code_page, 0, c.wide.data(), wide, to_narrow.data(), narrow,
                                    nullptr, nullptr),
                narrow);
      EXPECT_EQ(to_narrow, c.narrow);
    }
  }
  // -1 takes the NUL in; too small an output or another code page gives 0.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
  OLECHAR small[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 0), 0);
}

std::u16string Text(BSTR text) { return {text, SysStringLen(text)}; }

TEST(ComRuntimeTest, TypeInfoFromInterfaceDataDescribesItsMethods) {
  // The table's text is the caller's and goes before the type information.
  std::vector<std::u16string> text = {u"Sign", u"data", u"flags", u"Version"};
  std::vector<PARAMDATA> params = {{text[1].data(), VT_BSTR}, {text[2].data(), VT_I4}};
  std::vector<METHODDATA> methods = {
      {text[0].data(), params.data(), 7, 7, CC_CDECL, 2, DISPATCH_METHOD, VT_BSTR},
      {text[3].data(), nullptr, 3, 8, CC_CDECL, 0, DISPATCH_PROPERTYGET, VT_I4},
  };
  INTERFACEDATA data{methods.data(), 2};
  ITypeInfo* info = nullptr;
  ASSERT_EQ(CreateDispTypeInfo(&data, 0x409, &info), S_OK);
  for (std::u16string& t : text) t.assign(t.size(), u'X');
  params.clear();
  methods.clear();

  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->cFuncs, 2);
  EXPECT_EQ(attributes->lcid, 0x409u);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, GUID_NULL));
  info->ReleaseTypeAttr(attributes);

  struct Method {
    MEMBERID memid;
    INVOKEKIND invkind;
    std::vector<VARTYPE> params;
    VARTYPE result;
    std::vector<std::u16string> names;
  };
  const Method expected[] = {
      {7, INVOKE_FUNC, {VT_BSTR, VT_I4}, VT_BSTR, {u"Sign", u"data", u"flags"}},
      {3, INVOKE_PROPERTYGET, {}, VT_I4, {u"Version"}},
  };
  for (UINT i = 0; i < 2; ++i) {
    const Method& m = expected[i];
    SCOPED_TRACE(i);
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    EXPECT_EQ(func->memid, m.memid);
    EXPECT_EQ(func->invkind, m.invkind);
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, m.result);
    ASSERT_EQ(func->cParams, static_cast<SHORT>(m.params.size()));
    for (size_t p = 0; p < m.params.size(); ++p) {
      EXPECT_EQ(func->lprgelemdescParam[p].tdesc.vt, m.params[p]);
    }
    info->ReleaseFuncDesc(func);
    // All the names, then only as many as asked for.
    for (const UINT room : {8u, 1u}) {
      BSTR names[8] = {};
      UINT got = 0;
      ASSERT_EQ(info->GetNames(m.memid, names, room, &got), S_OK);
      ASSERT_EQ(got, std::min<size_t>(room, m.names.size()));
      for (UINT n = 0; n < got; ++n) {
        EXPECT_EQ(Text(names[n]), m.names[n]);
        SysFreeString(names[n]);
      }
    }
  }
  FUNCDESC* none = nullptr;
  EXPECT_EQ(info->GetFuncDesc(2, &none), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(none, nullptr);
  BSTR name = nullptr;
  UINT got = 1;
  EXPECT_EQ(info->GetNames(99, &name, 1, &got), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(got, 0u);

  struct Lookup {
    std::vector<std::u16string> names;
    HRESULT hr;
    std::vector<MEMBERID> ids;
  };
  const Lookup lookups[] = {
      {{u"sign"}, S_OK, {7}},
      {{u"SIGN", u"FLAGS", u"data"}, S_OK, {7, 1, 0}},
      {{u"version"}, S_OK, {3}},
      {{u"Sign", u"nope"}, DISP_E_UNKNOWNNAME, {7, MEMBERID_NIL}},
      {{u"Signs"}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
  };
  for (const Lookup& l : lookups) {
    std::vector<std::u16string> copies = l.names;
    std::vector<LPOLESTR> names;
    for (std::u16string& c : copies) names.push_back(c.data());
    std::vector<MEMBERID> ids(names.size(), 42);
    EXPECT_EQ(info->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()), l.hr);
    EXPECT_EQ(ids, l.ids);
  }

  // What is not offered leaves nothing behind in its out-parameters.
  BSTR doc = SysAllocString(OLESTR("stale"));
  BSTR kept = doc;
  DWORD context = 5;
  EXPECT_EQ(info->GetDocumentation(7, &doc, nullptr, &context, nullptr), E_NOTIMPL);
  EXPECT_EQ(doc, nullptr);
  EXPECT_EQ(context, 0u);
  SysFreeString(kept);
  ITypeInfo* same = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&same)), S_OK);
  same->Release();
  EXPECT_EQ(info->Release(), 0u);
}

TEST(ComRuntimeTest, DibSectionTakesPaintAsBgra) {
  const COLORREF white = RGB(255, 255, 255);
  const COLORREF ink = RGB(0x12, 0x34, 0x56);
  for (const LONG rows : {-3, 3}) {  // top-down, bottom-up
    SCOPED_TRACE(rows);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, rows, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* bytes = static_cast<BYTE*>(bits);
    std::memset(bytes, 0xFF, 4 * 3 * 4);
    HGDIOBJ stock = SelectObject(dc, bitmap);
    ASSERT_NE(stock, nullptr);

    EXPECT_EQ(SetPixelV(dc, 1, 2, ink), TRUE);
    EXPECT_EQ(GetPixel(dc, 1, 2), ink);
    EXPECT_EQ(GetPixel(dc, 0, 0), white);
    const BYTE* pixel = bytes + ((rows < 0 ? 2 : 0) * 4 + 1) * 4;
    EXPECT_EQ(std::vector<BYTE>(pixel, pixel + 4), (std::vector<BYTE>{0x56, 0x34, 0x12, 0x00}));
    EXPECT_EQ(SetPixelV(dc, 4, 0, ink), FALSE);
    EXPECT_EQ(GetPixel(dc, 0, 3), CLR_INVALID);

    // Selected into one context at a time, and not deleted while it is.
    HDC other = CreateCompatibleDC(dc);
    EXPECT_EQ(SelectObject(other, bitmap), nullptr);
    EXPECT_EQ(DeleteDC(other), TRUE);
    EXPECT_EQ(DeleteObject(bitmap), FALSE);
    EXPECT_EQ(SelectObject(dc, stock), bitmap);
    EXPECT_EQ(DeleteObject(bitmap), TRUE);
    EXPECT_EQ(DeleteDC(dc), TRUE);
    EXPECT_EQ(DeleteDC(dc), FALSE);
  }

  struct Refused {
    const char* what;
    LONG width, height;
    WORD bit_count;
    DWORD compression;
  };
  const Refused refused[] = {
      {"24 bits", 4, 4, 24, BI_RGB},
      {"bit fields", 4, 4, 32, 3},
      {"no rows", 4, 0, 32, BI_RGB},
      {"no columns", 0, 4, 32, BI_RGB},
      {"too large", 0x7FFFFFFF, 2, 32, BI_RGB},
  };
  for (const Refused& r : refused) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.width, r.height, 1, r.bit_count, r.compression,
                      0, 0, 0, 0, 0};
    void* bits = &info;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr)
        << r.what;
    EXPECT_EQ(bits, nullptr) << r.what;
  }
}

class ComRuntimeRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/com_runtime_test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    setenv("XDG_DATA_HOME", folder, 1);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(folder_);
  }
  std::string File() const {
    std::ifstream in(folder_ + "/tarvona/classes.reg");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string folder_;
};

TEST_F(ComRuntimeRegistryTest, KeysAndValuesRoundTripThroughTheClassesFile) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("CLSID\\{1}\\InprocServer32"), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const std::u16string path = u"/opt/t\u00e9st/TarvonaActiveX.ocx";
  const auto set = [&](LPCWSTR name, const std::u16string& data) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
  };
  EXPECT_EQ(set(nullptr, path), ERROR_SUCCESS);
  EXPECT_EQ(set(OLESTR("ThreadingModel"), u"Apartment"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, 4 /* REG_DWORD */, nullptr, 0),
            ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  const std::string file = File();
  EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\n"
                      "@=\"/opt/t\xc3\xa9st/TarvonaActiveX.ocx\"\n"
                      "\"ThreadingModel\"=\"Apartment\"\n"),
            std::string::npos)
      << file;

  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("clsid\\{1}\\inprocserver32"), 0, KEY_READ,
                          &key),
            ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, (path.size() + 1) * sizeof(WCHAR));
  std::u16string read(size / sizeof(WCHAR), u'?');
  DWORD small = 4;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(read.data()),
                             &small),
            ERROR_MORE_DATA);
  ASSERT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(read.data()),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(read, path + u'\0');
  EXPECT_EQ(RegQueryValueExW(key, OLESTR("Missing"), nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, OLESTR("CLSID\\{1}")), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("CLSID\\{1}\\InprocServer32"), 0, KEY_READ,
                          &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(File().find("{1}"), std::string::npos);
}

TEST_F(ComRuntimeRegistryTest, CategoriesManagerWritesTheClassesFile) {
  // Of this test alone: the machine's record may hold the control's own.
  constexpr CLSID kClass = {0x0B5E3C1A, 0x42D7, 0x4F60, {0x9A, 0x21, 0x6C, 0x3E, 0x88, 0x0D, 0x17, 0xF4}};
  constexpr CATID kCategory = {0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(kClass, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{0B5E3C1A-42D7-4F60-9A21-6C3E880D17F4}");
  EXPECT_EQ(StringFromGUID2(kClass, text, 38), 0);

  ICatRegister* categories = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICatRegister, reinterpret_cast<void**>(&categories)),
            S_OK);
  CATEGORYINFO info{kCategory, 0x409, {}};
  const std::u16string description = u"Controls safely scriptable!";
  std::copy(description.begin(), description.end(), info.szDescription);
  CATID ids[] = {kCategory};
  EXPECT_EQ(categories->RegisterCategories(1, &info), S_OK);
  EXPECT_EQ(categories->RegisterClassImplCategories(kClass, 1, ids), S_OK);
  const std::string file = File();
  EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\Component Categories\\"
                      "{7DD95801-9882-11CF-9FA9-00AA006C42C4}]\n"
                      "\"409\"=\"Controls safely scriptable!\""),
            std::string::npos)
      << file;
  EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\CLSID\\{0B5E3C1A-42D7-4F60-9A21-6C3E880D17F4}\\"
                      "Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}]"),
            std::string::npos)
      << file;
  EXPECT_EQ(categories->UnRegisterClassImplCategories(kClass, 1, ids), S_OK);
  EXPECT_EQ(File().find("Implemented Categories"), std::string::npos) << File();
  categories->Release();

  void* other = nullptr;
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &other),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(other, nullptr);
}

class ComRuntimeActivationTest : public ComRuntimeRegistryTest {
 protected:
  static void SetDefault(const std::u16string& path, const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string data(value, value + std::strlen(value));
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  // The test class served by `server`, or by nothing for null.
  static void Serve(const char* server) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    if (server != nullptr) SetDefault(std::u16string(kClassKey) + u"\\InprocServer32", server);
  }
  static bool Loaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
  }
  static constexpr const char16_t* kClassKey = u"CLSID\\{6E2B91D4-3A0C-4F57-8B1E-52C709AD446F}";
};

TEST_F(ComRuntimeActivationTest, ProgIdsAndClassTextGiveTheClass) {
  SetDefault(u"TarvonaTest.Module\\CLSID", "{6e2b91d4-3a0c-4f57-8b1e-52c709ad446f}");
  SetDefault(u"TarvonaTest.Broken\\CLSID", "not a class");
  using Parse = HRESULT (*)(LPCOLESTR, LPCLSID);
  struct Case {
    const char* what;
    Parse parse;
    const char16_t* text;
    HRESULT hr;
    CLSID clsid;
  };
  const Case cases[] = {
      {"ProgID", CLSIDFromProgID, u"TarvonaTest.Module", S_OK, kTestModuleClass},
      {"unknown ProgID", CLSIDFromProgID, u"TarvonaTest.Missing", CO_E_CLASSSTRING, CLSID_NULL},
      {"ProgID of no class", CLSIDFromProgID, u"TarvonaTest.Broken", CO_E_CLASSSTRING, CLSID_NULL},
      {"class text as ProgID", CLSIDFromProgID, u"{6E2B91D4-3A0C-4F57-8B1E-52C709AD446F}",
       CO_E_CLASSSTRING, CLSID_NULL},
      {"class text", CLSIDFromString, u"{6e2b91d4-3a0c-4f57-8B1E-52C709AD446F}", S_OK,
       kTestModuleClass},
      {"ProgID as class text", CLSIDFromString, u"TarvonaTest.Module", S_OK, kTestModuleClass},
      {"no braces", CLSIDFromString, u"6E2B91D4-3A0C-4F57-8B1E-52C709AD446F", CO_E_CLASSSTRING,
       CLSID_NULL},
      {"no text", CLSIDFromString, nullptr, S_OK, CLSID_NULL},
  };
  for (const Case& c : cases) {
    CLSID clsid = kTestModuleClass;
    clsid.Data1 ^= 1;
    EXPECT_EQ(c.parse(c.text, &clsid), c.hr) << c.what;
    EXPECT_TRUE(IsEqualCLSID(clsid, c.clsid)) << c.what;
  }
}

TEST_F(ComRuntimeActivationTest, CreatesThroughTheModuleTheRecordNames) {
  struct Case {
    const char* what;
    const char* server;
    IID iid;
    HRESULT hr;
  };
  const Case cases[] = {
      {"not registered", nullptr, IID_IUnknown, REGDB_E_CLASSNOTREG},
      {"no such file", "/nonexistent/module.so", IID_IUnknown, CO_E_DLLNOTFOUND},
      {"no DllCanUnloadNow", TEST_MODULE_INCOMPLETE, IID_IUnknown, CO_E_ERRORINDLL},
      {"made nothing", TEST_MODULE, IID_IDispatch, E_NOINTERFACE},
      {"created", TEST_MODULE, IID_IUnknown, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Serve(c.server);
    IUnknown* object = reinterpret_cast<IUnknown*>(&object);
    ASSERT_EQ(CoCreateInstance(kTestModuleClass, nullptr, CLSCTX_INPROC_SERVER, c.iid,
                               reinterpret_cast<void**>(&object)),
              c.hr);
    // Only a module that made something stays, until its objects go.
    ASSERT_EQ(object != nullptr, SUCCEEDED(c.hr));
    if (c.server != nullptr) {
      EXPECT_EQ(Loaded(c.server), SUCCEEDED(c.hr));
    }
    if (object == nullptr) continue;
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(c.server));
    object->Release();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded(c.server));
  }
}

TEST_F(ComRuntimeActivationTest, LastUninitializeFreesEveryModule) {
  Serve(TEST_MODULE);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(kTestModuleClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  // A locked server stays through CoFreeUnusedLibraries, not through the end.
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(Loaded(TEST_MODULE));
  CoUninitialize();
  EXPECT_TRUE(Loaded(TEST_MODULE));
  CoUninitialize();
  EXPECT_FALSE(Loaded(TEST_MODULE));
}

}  // namespace
