#include "module/categories.h"

#include <algorithm>

#include "module/identity.h"

namespace tarvona::module {
namespace {

using com::ComPtr;
using com::HRESULT;
using com::ICatRegister;

HRESULT CreateManager(com::ComClassCreator& classes, ComPtr<ICatRegister>* manager) {
  return classes.CreateInstance(com::CLSID_StdComponentCategoriesMgr, nullptr,
                                com::CLSCTX_INPROC_SERVER, com::IID_ICatRegister,
                                manager->put_void());
}

}  // namespace

HRESULT CreateComponentCategory(com::ComClassCreator& classes, const com::CATID& catid,
                                std::u16string_view description) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); com::Failed(hr)) return hr;
  com::CATEGORYINFO info{};
  info.catid = catid;
  info.lcid = kCategoryLocale;
  const size_t length = std::min<size_t>(description.size(), std::size(info.szDescription) - 1);
  std::copy_n(description.data(), length, info.szDescription);
  info.szDescription[length] = u'\0';
  return manager->RegisterCategories(1, &info);
}

HRESULT RegisterCLSIDInCategory(com::ComClassCreator& classes, const com::CLSID& clsid,
                                const com::CATID& catid) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); com::Failed(hr)) return hr;
  return manager->RegisterClassImplCategories(clsid, 1, &catid);
}

HRESULT UnRegisterCLSIDInCategory(com::ComClassCreator& classes, const com::CLSID& clsid,
                                  const com::CATID& catid) {
  ComPtr<ICatRegister> manager;
  if (HRESULT hr = CreateManager(classes, &manager); com::Failed(hr)) return hr;
  return manager->UnRegisterClassImplCategories(clsid, 1, &catid);
}

}  // namespace tarvona::module
