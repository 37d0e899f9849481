#pragma once

// IUnknown and IClassFactory as Windows declares them: abstract classes
// whose virtual functions come in COM's order, so their tables have COM's
// binary layout.

#include "winerror.h"
#include "wtypes.h"

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;
inline constexpr IID IID_IUnknown = ComGuid(0x00000000);

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};
inline constexpr IID IID_IClassFactory = ComGuid(0x00000001);
