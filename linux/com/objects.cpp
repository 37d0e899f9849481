// Object creation and GUID text. The one class the runtime itself creates
// is the component categories manager.
#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <comcat.h>
#include <objbase.h>

#include "linux/com/categories.h"
#include "linux/com/guid_text.h"

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                    LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_StdComponentCategoriesMgr) ||
      (context & CLSCTX_INPROC_SERVER) == 0) {
    return REGDB_E_CLASSNOTREG;
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return tarvona::linux_com::CreateCategoriesManager(iid, out);
}

extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  if (text == nullptr || size < 39) return 0;
  const std::string ascii = tarvona::linux_com::GuidText(guid);
  for (size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<OLECHAR>(ascii[i]);
  text[ascii.size()] = 0;
  return static_cast<int>(ascii.size() + 1);
}
