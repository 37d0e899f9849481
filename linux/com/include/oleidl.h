#pragma once

// The OLE embedding interfaces a control offers and its container's site,
// as Windows declares them.

#include "oaidl.h"

struct IEnumOLEVERB;
struct IOleContainer;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;
struct OLEINPLACEFRAMEINFO;

inline constexpr LONG OLEIVERB_PRIMARY = 0;
inline constexpr LONG OLEIVERB_SHOW = -1;
inline constexpr LONG OLEIVERB_OPEN = -2;
inline constexpr LONG OLEIVERB_HIDE = -3;
inline constexpr LONG OLEIVERB_UIACTIVATE = -4;
inline constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;
inline constexpr LONG OLEIVERB_DISCARDUNDOSTATE = -6;
inline constexpr LONG OLEIVERB_PROPERTIES = -7;

inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;

struct IOleClientSite : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SaveObject() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowObject() = 0;
  virtual HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) = 0;
  virtual HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() = 0;
};
inline constexpr IID IID_IOleClientSite = ComGuid(0x00000118);

struct IOleAdviseHolder : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendOnRename(IMoniker* moniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendOnSave() = 0;
  virtual HRESULT STDMETHODCALLTYPE SendOnClose() = 0;
};
inline constexpr IID IID_IOleAdviseHolder = ComGuid(0x00000111);

struct IOleObject : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close(DWORD option) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation,
                                                 DWORD reserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG message, IOleClientSite* site,
                                           LONG index, HWND parent, LPCRECT position) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) = 0;
  virtual HRESULT STDMETHODCALLTYPE Update() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsUpToDate() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) = 0;
};
inline constexpr IID IID_IOleObject = ComGuid(0x00000112);

struct IOleWindow : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) = 0;
  virtual HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) = 0;
};
inline constexpr IID IID_IOleWindow = ComGuid(0x00000114);

struct IOleInPlaceObject : IOleWindow {
  virtual HRESULT STDMETHODCALLTYPE InPlaceDeactivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE UIDeactivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReactivateAndUndo() = 0;
};
inline constexpr IID IID_IOleInPlaceObject = ComGuid(0x00000113);

struct IOleInPlaceSite : IOleWindow {
  virtual HRESULT STDMETHODCALLTYPE CanInPlaceActivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE OnInPlaceActivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE OnUIActivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                                     IOleInPlaceUIWindow** document,
                                                     LPRECT position, LPRECT clip,
                                                     OLEINPLACEFRAMEINFO* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() = 0;
  virtual HRESULT STDMETHODCALLTYPE DiscardUndoState() = 0;
  virtual HRESULT STDMETHODCALLTYPE DeactivateAndUndo() = 0;
  virtual HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) = 0;
};
inline constexpr IID IID_IOleInPlaceSite = ComGuid(0x00000119);

struct IViewObject : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                         DVTARGETDEVICE* device, HDC target_info, HDC target,
                                         LPCRECTL bounds, LPCRECTL window_bounds,
                                         BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                                         ULONG_PTR keep_going_argument) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                                DVTARGETDEVICE* device, HDC target_info,
                                                LOGPALETTE** colors) = 0;
  virtual HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                           DWORD* freeze) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags,
                                              IAdviseSink** sink) = 0;
};
inline constexpr IID IID_IViewObject = ComGuid(0x0000010D);

struct IViewObject2 : IViewObject {
  virtual HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                              LPSIZEL size) = 0;
};
inline constexpr IID IID_IViewObject2 = ComGuid(0x00000127);
