#pragma once

// The OLE control interfaces as Windows declares them: persistence,
// class information, property pages, connection points.

#include "oleidl.h"

inline constexpr GUID OleControlGuid(uint32_t data1) {
  return {data1, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
}

struct IPersistStreamInit : IPersist {
  virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitNew() = 0;
};
inline constexpr IID IID_IPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};

struct IPersistPropertyBag : IPersist {
  virtual HRESULT STDMETHODCALLTYPE InitNew() = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty,
                                         BOOL save_all) = 0;
};
inline constexpr IID IID_IPersistPropertyBag = {
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

struct CONTROLINFO {
  ULONG cb;
  HACCEL hAccel;
  USHORT cAccel;
  DWORD dwFlags;
};

struct IOleControl : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* message) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) = 0;
};
inline constexpr IID IID_IOleControl = OleControlGuid(0xB196B288);

struct IProvideClassInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) = 0;
};
inline constexpr IID IID_IProvideClassInfo = OleControlGuid(0xB196B283);

inline constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;
struct IProvideClassInfo2 : IProvideClassInfo {
  virtual HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) = 0;
};
inline constexpr IID IID_IProvideClassInfo2 = {
    0xA6BC3AC0, 0xDBAA, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

struct ISpecifyPropertyPages : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) = 0;
};
inline constexpr IID IID_ISpecifyPropertyPages = OleControlGuid(0xB196B28B);

struct IConnectionPointContainer;
struct IEnumConnections;

struct IConnectionPoint : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(
      IConnectionPointContainer** container) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) = 0;
};
inline constexpr IID IID_IConnectionPoint = OleControlGuid(0xB196B286);

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points,
                                         ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) = 0;
};
inline constexpr IID IID_IEnumConnectionPoints = OleControlGuid(0xB196B285);

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid,
                                                        IConnectionPoint** point) = 0;
};
inline constexpr IID IID_IConnectionPointContainer = OleControlGuid(0xB196B284);

struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;
  SIZE size;
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
};

struct IPropertyPageSite : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* lcid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) = 0;
  virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) = 0;
};
inline constexpr IID IID_IPropertyPageSite = OleControlGuid(0xB196B28C);

struct IPropertyPage : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) = 0;
  virtual HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) = 0;
  virtual HRESULT STDMETHODCALLTYPE Deactivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) = 0;
  virtual HRESULT STDMETHODCALLTYPE Show(UINT command) = 0;
  virtual HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPageDirty() = 0;
  virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
  virtual HRESULT STDMETHODCALLTYPE Help(LPCOLESTR folder) = 0;
  virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) = 0;
};
inline constexpr IID IID_IPropertyPage = OleControlGuid(0xB196B28D);
