#include <olectl.h>
#include <windows.h>

#include <array>
#include <utility>

#include "host/control_host.h"

namespace tarvona::host {

// The statuses a page or a registering user may meet: the session's own,
// what CLSIDFromProgID, CoCreateInstance, IDispatch::Invoke and
// DllRegisterServer report. Where two share a value the first names it.
std::string_view StatusName(Status s) {
#define TARVONA_NAMED(value) std::pair<HRESULT, std::string_view>{value, #value}
  static constexpr std::array kNames = {
      TARVONA_NAMED(S_OK),
      TARVONA_NAMED(S_FALSE),
      TARVONA_NAMED(E_UNEXPECTED),
      TARVONA_NAMED(E_NOTIMPL),
      TARVONA_NAMED(E_NOINTERFACE),
      TARVONA_NAMED(E_POINTER),
      TARVONA_NAMED(E_FAIL),
      TARVONA_NAMED(E_ACCESSDENIED),
      TARVONA_NAMED(E_HANDLE),
      TARVONA_NAMED(E_OUTOFMEMORY),
      TARVONA_NAMED(E_INVALIDARG),
      TARVONA_NAMED(DISP_E_UNKNOWNINTERFACE),
      TARVONA_NAMED(DISP_E_MEMBERNOTFOUND),
      TARVONA_NAMED(DISP_E_PARAMNOTFOUND),
      TARVONA_NAMED(DISP_E_TYPEMISMATCH),
      TARVONA_NAMED(DISP_E_UNKNOWNNAME),
      TARVONA_NAMED(DISP_E_NONAMEDARGS),
      TARVONA_NAMED(DISP_E_BADVARTYPE),
      TARVONA_NAMED(DISP_E_EXCEPTION),
      TARVONA_NAMED(DISP_E_OVERFLOW),
      TARVONA_NAMED(DISP_E_BADINDEX),
      TARVONA_NAMED(DISP_E_BADPARAMCOUNT),
      TARVONA_NAMED(TYPE_E_REGISTRYACCESS),
      TARVONA_NAMED(TYPE_E_LIBNOTREGISTERED),
      TARVONA_NAMED(TYPE_E_ELEMENTNOTFOUND),
      TARVONA_NAMED(TYPE_E_CANTLOADLIBRARY),
      TARVONA_NAMED(CLASS_E_NOAGGREGATION),
      TARVONA_NAMED(CLASS_E_CLASSNOTAVAILABLE),
      TARVONA_NAMED(REGDB_E_READREGDB),
      TARVONA_NAMED(REGDB_E_WRITEREGDB),
      TARVONA_NAMED(REGDB_E_CLASSNOTREG),
      TARVONA_NAMED(CO_E_NOTINITIALIZED),
      TARVONA_NAMED(CO_E_DLLNOTFOUND),
      TARVONA_NAMED(CO_E_ERRORINDLL),
      TARVONA_NAMED(CO_E_CLASSSTRING),
      TARVONA_NAMED(RPC_E_CHANGED_MODE),
      TARVONA_NAMED(SELFREG_E_TYPELIB),
      TARVONA_NAMED(SELFREG_E_CLASS),
  };
#undef TARVONA_NAMED
  for (const auto& [value, name] : kNames) {
    if (value == s) return name;
  }
  return {};
}

}  // namespace tarvona::host
