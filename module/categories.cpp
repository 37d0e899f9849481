#include "module/categories.h"

#include <algorithm>

#include "module/identity.h"

namespace tarvona::module {
namespace {

using platform::ComPtr;
using platform::HRESULT;
using platform::ICatRegister;

HRESULT CreateManager(platform::ComClassCreator& classes, ComPtr<ICatRegister>* manager) {
  return classes.CreateInstance(platform::CLSID_StdComponentCategoriesMgr, nullptr,
                                platform::CLSCTX_INPROC_SERVER, platform::IID_ICatRegister,
                                manager->put_void());
}

}  // namespace

HRESULT CreateComponentCategory(platform::ComClassCreator& classes, const platform::CATID& catid,
                                std::u16string_view description) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); platform::Failed(hr)) return hr;
  platform::CATEGORYINFO info{};
  info.catid = catid;
  info.lcid = kCategoryLocale;
  const size_t length = std::min<size_t>(description.size(), std::size(info.szDescription) - 1);
  std::copy_n(description.data(), length, info.szDescription);
  info.szDescription[length] = u'\0';
  return manager->RegisterCategories(1, &info);
}

HRESULT RegisterCLSIDInCategory(platform::ComClassCreator& classes, const platform::CLSID& clsid,
                                const platform::CATID& catid) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); platform::Failed(hr)) return hr;
  return manager->RegisterClassImplCategories(clsid, 1, &catid);
}

HRESULT UnRegisterCLSIDInCategory(platform::ComClassCreator& classes, const platform::CLSID& clsid,
                                  const platform::CATID& catid) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); platform::Failed(hr)) return hr;
  return manager->UnRegisterClassImplCategories(clsid, 1, &catid);
}

}  // namespace tarvona::module
