#pragma once

// The control's one interface of its own, for the browsers' host: the page
// a control works for, which its dialogs name, and the host's input, whose
// hang-up closes them. Other hosts never ask for it.

#include <unknwn.h>

// {2B7E5D31-9C4A-4F0E-A61D-53C87E0294BF}
inline constexpr IID IID_IControlCaller = {
    0x2B7E5D31, 0x9C4A, 0x4F0E, {0xA6, 0x1D, 0x53, 0xC8, 0x7E, 0x02, 0x94, 0xBF}};

struct IControlCaller : public IUnknown {
  // `requester` is the page's origin; `hangup` a descriptor of the host's
  // process that hangs up when the browser goes, or -1 for none.
  virtual HRESULT STDMETHODCALLTYPE SetCaller(LPCOLESTR requester, LONG_PTR hangup) = 0;

 protected:
  ~IControlCaller() = default;
};
