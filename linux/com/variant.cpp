// VARIANTs and the coercions script values need. A value is read out of
// its source into one of three forms (a whole number, a real, text) and
// written to the target's type, with the target's range checked; real
// numbers round half to even, as Windows' automation does.
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <variant>

#include <oleauto.h>

namespace {

struct Text {
  std::u16string_view text;
};
// int64_t for the signed and small types, uint64_t for VT_UI8 beyond that.
using Scalar = std::variant<int64_t, uint64_t, double, Text>;

bool IsNumberText(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == s.size();
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Decimal text (spaces around it allowed) or True/False as a number.
HRESULT ParseText(std::u16string_view text, Scalar& out) {
  std::string ascii;
  for (char16_t c : text) {
    if (c >= 0x80) return DISP_E_TYPEMISMATCH;
    ascii.push_back(static_cast<char>(c));
  }
  const size_t first = ascii.find_first_not_of(" \t");
  if (first == std::string::npos) return DISP_E_TYPEMISMATCH;
  const std::string_view trimmed =
      std::string_view(ascii).substr(first, ascii.find_last_not_of(" \t") - first + 1);
  if (EqualsIgnoringCase(trimmed, "true")) return out = int64_t{VARIANT_TRUE}, S_OK;
  if (EqualsIgnoringCase(trimmed, "false")) return out = int64_t{VARIANT_FALSE}, S_OK;
  if (!IsNumberText(trimmed)) return DISP_E_TYPEMISMATCH;
  const std::string number(trimmed);
  const double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) return DISP_E_OVERFLOW;
  out = value;
  return S_OK;
}

// The value `v` holds, looking through one VT_BYREF.
HRESULT Read(const VARIANT& v, Scalar& out) {
  const bool byref = (v.vt & VT_BYREF) != 0;
  if (byref && v.byref == nullptr) return E_INVALIDARG;
  const VARTYPE type = v.vt & ~VT_BYREF;
  switch (type) {
    case VT_EMPTY: return byref ? DISP_E_BADVARTYPE : (out = int64_t{0}, S_OK);
    case VT_NULL: return byref ? DISP_E_BADVARTYPE : DISP_E_TYPEMISMATCH;
    case VT_I1: return out = int64_t{byref ? *v.pcVal : v.cVal}, S_OK;
    case VT_UI1: return out = int64_t{byref ? *v.pbVal : v.bVal}, S_OK;
    case VT_I2: return out = int64_t{byref ? *v.piVal : v.iVal}, S_OK;
    case VT_UI2: return out = int64_t{byref ? *v.puiVal : v.uiVal}, S_OK;
    case VT_I4: return out = int64_t{byref ? *v.plVal : v.lVal}, S_OK;
    case VT_UI4: return out = int64_t{byref ? *v.pulVal : v.ulVal}, S_OK;
    case VT_INT: return out = int64_t{byref ? *v.pintVal : v.intVal}, S_OK;
    case VT_UINT: return out = int64_t{byref ? *v.puintVal : v.uintVal}, S_OK;
    case VT_I8: return out = int64_t{byref ? *v.pllVal : v.llVal}, S_OK;
    case VT_UI8: {
      const uint64_t value = byref ? *v.pullVal : v.ullVal;
      if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        out = static_cast<int64_t>(value);
      } else {
        out = value;
      }
      return S_OK;
    }
    case VT_BOOL: return out = int64_t{byref ? *v.pboolVal : v.boolVal}, S_OK;
    case VT_R4: return out = double{byref ? *v.pfltVal : v.fltVal}, S_OK;
    case VT_R8: return out = byref ? *v.pdblVal : v.dblVal, S_OK;
    case VT_BSTR: {
      const BSTR text = byref ? *v.pbstrVal : v.bstrVal;
      return out = Text{std::u16string_view(text, SysStringLen(text))}, S_OK;
    }
    case VT_VARIANT:
      // Only by reference, and only one level deep.
      if (!byref || (v.pvarVal->vt & ~VT_BYREF) == VT_VARIANT) return DISP_E_BADVARTYPE;
      return Read(*v.pvarVal, out);
    case VT_CY:
    case VT_DATE:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DECIMAL:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

// A whole number within [low, high]; reals round half to even.
HRESULT ToWhole(const Scalar& value, int64_t low, uint64_t high, int64_t& out_signed,
                uint64_t& out_unsigned) {
  if (const auto* text = std::get_if<Text>(&value)) {
    Scalar parsed;
    const HRESULT hr = ParseText(text->text, parsed);
    if (FAILED(hr)) return hr;
    return ToWhole(parsed, low, high, out_signed, out_unsigned);
  }
  if (const auto* real = std::get_if<double>(&value)) {
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(*real);
    std::fesetround(mode);
    if (std::isnan(rounded) || rounded < static_cast<double>(low) ||
        rounded >= static_cast<double>(high) + 1.0) {
      return DISP_E_OVERFLOW;
    }
    if (rounded < 0) {
      out_signed = static_cast<int64_t>(rounded);
      out_unsigned = static_cast<uint64_t>(out_signed);
    } else {
      out_unsigned = static_cast<uint64_t>(rounded);
      out_signed = static_cast<int64_t>(out_unsigned);
    }
    return S_OK;
  }
  if (const auto* big = std::get_if<uint64_t>(&value)) {
    if (*big > high) return DISP_E_OVERFLOW;
    out_unsigned = *big;
    out_signed = static_cast<int64_t>(*big);
    return S_OK;
  }
  const int64_t whole = std::get<int64_t>(value);
  if (whole < low || (whole > 0 && static_cast<uint64_t>(whole) > high)) return DISP_E_OVERFLOW;
  out_signed = whole;
  out_unsigned = static_cast<uint64_t>(whole);
  return S_OK;
}

HRESULT ToReal(const Scalar& value, double& out) {
  if (const auto* text = std::get_if<Text>(&value)) {
    Scalar parsed;
    const HRESULT hr = ParseText(text->text, parsed);
    if (FAILED(hr)) return hr;
    return ToReal(parsed, out);
  }
  if (const auto* real = std::get_if<double>(&value)) return out = *real, S_OK;
  if (const auto* big = std::get_if<uint64_t>(&value)) return out = static_cast<double>(*big), S_OK;
  out = static_cast<double>(std::get<int64_t>(value));
  return S_OK;
}

BSTR Ascii(const char* text) {
  std::u16string wide;
  for (; *text != 0; ++text) wide.push_back(static_cast<char16_t>(*text));
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// Decimal text; reals with 15 significant digits (7 for VT_R4), booleans
// as -1 and 0 unless VARIANT_ALPHABOOL asks for True and False.
HRESULT ToText(const Scalar& value, VARTYPE source, USHORT flags, BSTR& out) {
  char buffer[64];
  if (const auto* text = std::get_if<Text>(&value)) {
    out = SysAllocStringLen(text->text.data(), static_cast<UINT>(text->text.size()));
  } else if (source == VT_BOOL && (flags & VARIANT_ALPHABOOL) != 0) {
    out = Ascii(std::get<int64_t>(value) != 0 ? "True" : "False");
  } else if (const auto* real = std::get_if<double>(&value)) {
    std::snprintf(buffer, sizeof buffer, source == VT_R4 ? "%.7G" : "%.15G", *real);
    out = Ascii(buffer);
  } else if (const auto* big = std::get_if<uint64_t>(&value)) {
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(*big));
    out = Ascii(buffer);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(std::get<int64_t>(value)));
    out = Ascii(buffer);
  }
  return out == nullptr ? E_OUTOFMEMORY : S_OK;
}

struct WholeRange {
  VARTYPE type;
  int64_t low;
  uint64_t high;
};
constexpr WholeRange kWholeRanges[] = {
    {VT_I1, INT8_MIN, INT8_MAX},     {VT_UI1, 0, UINT8_MAX},
    {VT_I2, INT16_MIN, INT16_MAX},   {VT_UI2, 0, UINT16_MAX},
    {VT_I4, INT32_MIN, INT32_MAX},   {VT_UI4, 0, UINT32_MAX},
    {VT_INT, INT32_MIN, INT32_MAX},  {VT_UINT, 0, UINT32_MAX},
    {VT_I8, INT64_MIN, INT64_MAX},   {VT_UI8, 0, UINT64_MAX},
    {VT_BOOL, INT64_MIN, INT64_MAX},
};

HRESULT Write(const Scalar& value, VARTYPE source, USHORT flags, VARTYPE type, VARIANT& out) {
  for (const WholeRange& range : kWholeRanges) {
    if (range.type != type) continue;
    int64_t whole = 0;
    uint64_t unsigned_whole = 0;
    const HRESULT hr = ToWhole(value, range.low, range.high, whole, unsigned_whole);
    if (FAILED(hr)) return hr;
    switch (type) {
      case VT_I1: out.cVal = static_cast<CHAR>(whole); break;
      case VT_UI1: out.bVal = static_cast<BYTE>(unsigned_whole); break;
      case VT_I2: out.iVal = static_cast<SHORT>(whole); break;
      case VT_UI2: out.uiVal = static_cast<USHORT>(unsigned_whole); break;
      case VT_I4: out.lVal = static_cast<LONG>(whole); break;
      case VT_UI4: out.ulVal = static_cast<ULONG>(unsigned_whole); break;
      case VT_INT: out.intVal = static_cast<INT>(whole); break;
      case VT_UINT: out.uintVal = static_cast<UINT>(unsigned_whole); break;
      case VT_I8: out.llVal = whole; break;
      case VT_UI8: out.ullVal = unsigned_whole; break;
      default: out.boolVal = whole != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    }
    out.vt = type;
    return S_OK;
  }
  switch (type) {
    case VT_R4:
    case VT_R8: {
      double real = 0;
      const HRESULT hr = ToReal(value, real);
      if (FAILED(hr)) return hr;
      if (type == VT_R8) {
        out.dblVal = real;
      } else {
        if (std::fabs(real) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        out.fltVal = static_cast<float>(real);
      }
      out.vt = type;
      return S_OK;
    }
    case VT_BSTR: {
      const HRESULT hr = ToText(value, source, flags, out.bstrVal);
      if (SUCCEEDED(hr)) out.vt = VT_BSTR;
      return hr;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

extern "C" void VariantInit(VARIANTARG* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

extern "C" HRESULT VariantClear(VARIANTARG* v) {
  if (v == nullptr) return E_INVALIDARG;
  if ((v->vt & (VT_BYREF | VT_ARRAY)) == 0) {
    switch (v->vt) {
      case VT_BSTR: SysFreeString(v->bstrVal); break;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        if (v->punkVal != nullptr) v->punkVal->Release();
        break;
      default: break;
    }
  } else if ((v->vt & VT_ARRAY) != 0) {
    return DISP_E_BADVARTYPE;  // this runtime makes no arrays
  }
  VariantInit(v);
  return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* to, const VARIANTARG* from) {
  if (to == nullptr || from == nullptr) return E_INVALIDARG;
  if (to == from) return S_OK;
  VARIANT copy = *from;
  if (from->vt == VT_BSTR && from->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(from->bstrVal, SysStringLen(from->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((from->vt == VT_DISPATCH || from->vt == VT_UNKNOWN) && from->punkVal != nullptr) {
    from->punkVal->AddRef();
  } else if ((from->vt & VT_ARRAY) != 0) {
    return DISP_E_BADVARTYPE;
  }
  const HRESULT hr = VariantClear(to);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *to = copy;
  return S_OK;
}

extern "C" HRESULT VariantChangeType(VARIANTARG* to, const VARIANTARG* from, USHORT flags,
                                     VARTYPE type) {
  if (to == nullptr || from == nullptr) return E_INVALIDARG;
  if (from->vt == type) return VariantCopy(to, from);
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = S_OK;
  if (type == VT_EMPTY || type == VT_NULL) {
    result.vt = type;
  } else {
    Scalar value;
    hr = Read(*from, value);
    if (SUCCEEDED(hr)) {
      VARTYPE source = from->vt & ~VT_BYREF;
      if (source == VT_VARIANT) source = from->pvarVal->vt & ~VT_BYREF;
      // Empty is "" as text, 0 as a number.
      if (source == VT_EMPTY && type == VT_BSTR) value = Text{};
      hr = Write(value, source, flags, type, result);
    }
  }
  if (FAILED(hr)) return hr;
  // `to` may be `from`: cleared only now that the value is taken.
  hr = VariantClear(to);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *to = result;
  return S_OK;
}
