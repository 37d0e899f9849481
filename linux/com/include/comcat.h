#pragma once

// The component categories manager's registration interface, as Windows
// declares it; CoCreateInstance(CLSID_StdComponentCategoriesMgr) gives it.

#include "unknwn.h"

struct CATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];
};

struct ICatRegister : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO* infos) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                                CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                                  CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                               CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                                 CATID* ids) = 0;
};
inline constexpr IID IID_ICatRegister = ComGuid(0x0002E012);
inline constexpr CLSID CLSID_StdComponentCategoriesMgr = ComGuid(0x0002E005);
